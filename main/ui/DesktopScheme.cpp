#include "ui/DesktopScheme.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

namespace tellwire {

DesktopScheme::DesktopScheme(QObject* parent)
    : QObject(parent)
{
    // Windows with a palette of their own are not told when the desktop's
    // changes; the application object always is.
    qApp->installEventFilter(this);
}

bool DesktopScheme::isDark()
{
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

bool DesktopScheme::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp
        && (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::ThemeChange))
        emit changed();
    return QObject::eventFilter(watched, event);
}

} // namespace tellwire
