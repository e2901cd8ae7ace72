// TellwireDesktop: starts Tellwire when it is not running and asks it to show its settings.

#include "Alert.h"
#include "Launcher.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    // Tests point the launcher at a stand-in; the installed path otherwise.
    const QString executable = qEnvironmentVariableIsSet("TELLWIRE_EXECUTABLE")
        ? qEnvironmentVariable("TELLWIRE_EXECUTABLE")
        : QStringLiteral(TELLWIRE_INSTALLED_EXECUTABLE);

    const bool onScreen = tellwire::displayIsVisible();
    tellwire::Launcher launcher(executable, [onScreen](const QString& title, const QString& detail) {
        tellwire::showAlert(title, detail, onScreen);
    });
    if (const auto failed = launcher.launch())
        return *failed;
    return app.exec();
}
