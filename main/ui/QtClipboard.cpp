#include "ui/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace tellwire {

void QtClipboard::setText(const QString& text)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

} // namespace tellwire
