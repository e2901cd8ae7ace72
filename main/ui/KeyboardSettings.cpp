#include "ui/KeyboardSettings.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace tellwire::KeyboardSettings {

bool open()
{
    const QString gnome = QStandardPaths::findExecutable(QStringLiteral("gnome-control-center"));
    if (!gnome.isEmpty())
        return QProcess::startDetached(gnome, {QStringLiteral("keyboard")});
    const QString ibus = QStandardPaths::findExecutable(QStringLiteral("ibus-setup"));
    if (!ibus.isEmpty())
        return QProcess::startDetached(ibus, {});
    return false;
}

} // namespace tellwire::KeyboardSettings
