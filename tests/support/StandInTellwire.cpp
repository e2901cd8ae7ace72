// Stands in for Tellwire in the launcher's tests: notes each start in the file
// named by STAND_IN_RECORD, then owns the input method's name on the session bus.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QFile record(qEnvironmentVariable("STAND_IN_RECORD"));
    if (record.open(QIODevice::Append))
        record.write("started\n");
    record.close();
    if (!QDBusConnection::sessionBus().registerService(QStringLiteral("cc.orrisfeld.tellwire.inputmethod")))
        return 3;
    return app.exec();
}
