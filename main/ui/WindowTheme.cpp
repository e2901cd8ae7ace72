#include "ui/WindowTheme.h"

#include "ui/DesktopColorScheme.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

namespace tellwire {

WindowTheme::WindowTheme(Defaults& defaults, QObject* parent)
    : QObject(parent)
    , appearance_(defaults)
{
    connect(&appearance_, &Appearance::accentChanged, this, &WindowTheme::changed);
    connect(&appearance_, &Appearance::appearanceChanged, this, &WindowTheme::changed);
    // Windows with a palette of their own are not told when the desktop's
    // changes; the application object always is.
    qApp->installEventFilter(this);
    connect(&DesktopColorScheme::shared(), &DesktopColorScheme::changed, this, [this] {
        if (appearance_.scheme() == Appearance::Scheme::System)
            emit changed();
    });
}

Theme WindowTheme::theme() const
{
    return Theme::forScheme(appearance_.scheme(), desktopIsDark());
}

bool WindowTheme::desktopIsDark()
{
    // The desktop's own setting where a portal tells it; the palette elsewhere.
    switch (DesktopColorScheme::shared().preference()) {
    case DesktopColorScheme::Preference::Dark:
        return true;
    case DesktopColorScheme::Preference::Light:
        return false;
    case DesktopColorScheme::Preference::Unknown:
        break;
    }
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

bool WindowTheme::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && appearance_.scheme() == Appearance::Scheme::System
        && (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::ThemeChange))
        emit changed();
    return QObject::eventFilter(watched, event);
}

} // namespace tellwire
