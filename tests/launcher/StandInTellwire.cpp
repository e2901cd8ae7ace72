// Stands in for Tellwire in the launcher's tests: owns the input method's
// name on the session bus and records every notification it hears, one line
// each, in the file named by STAND_IN_RECORD.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QObject>


namespace {

void record(const QString& line)
{
    QFile file(qEnvironmentVariable("STAND_IN_RECORD"));
    if (file.open(QIODevice::Append))
        file.write((line + u'\n').toUtf8());
}

class Listener : public QObject {
    Q_OBJECT
public slots:
    void posted(const QString& name) { record(QStringLiteral("posted ") + name); }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Listener listener;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(QString(), QStringLiteral("/cc/orrisfeld/tellwire"), QStringLiteral("cc.orrisfeld.tellwire.Notifications"),
                QStringLiteral("Posted"), &listener, SLOT(posted(QString)));
    if (!bus.registerService(QStringLiteral("cc.orrisfeld.tellwire.inputmethod"))) {
        record(QStringLiteral("name taken"));
        return 3;
    }
    record(QStringLiteral("started ") + QString::number(QCoreApplication::applicationPid()));
    return app.exec();
}

#include "StandInTellwire.moc"
