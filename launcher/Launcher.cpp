#include "Launcher.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

namespace tellwire {

Launcher::Launcher(QString executable, Alert alert, QObject* parent)
    : QObject(parent)
    , executable_(std::move(executable))
    , alert_(std::move(alert))
{
}

std::optional<int> Launcher::launch()
{
    const QFileInfo file(executable_);
    if (!file.isFile() || !file.isExecutable()) {
        alert_(QStringLiteral("语音输入组件未安装"), QStringLiteral("请重新运行 Tellwire 安装包。"));
        return 1;
    }

    if (!inputMethodRuns()) {
        QProcess process;
        process.setProgram(executable_);
        if (!process.startDetached()) {
            alert_(QStringLiteral("无法启动语音输入"), process.errorString());
            return 1;
        }
    }

    QTimer::singleShot(kNotifyDelayMs, Qt::PreciseTimer, this, [this] {
        postShowSettings();
        QCoreApplication::quit();
    });
    return std::nullopt;
}

bool Launcher::inputMethodRuns() const
{
    const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(kInputMethodName).value();
}

void Launcher::postShowSettings()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/cc/orrisfeld/tellwire"),
                                                     QStringLiteral("cc.orrisfeld.tellwire.Notifications"),
                                                     QStringLiteral("Posted"));
    signal << kShowSettings;
    bus.send(signal);
    // A round trip to the bus after the signal: the signal is out before we quit.
    bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                            QStringLiteral("/org/freedesktop/DBus"),
                                            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
    emit posted();
}

} // namespace tellwire
