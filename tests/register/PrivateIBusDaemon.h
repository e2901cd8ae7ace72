#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace tellwire::testing {

// A headless ibus-daemon of the test's own: private config and cache folders
// (so its address file and registry are its own), its component folder given
// by IBUS_COMPONENT_PATH, gsettings in a keyfile under the same config folder.
// The test process takes over the same environment, so libibus and GSettings
// calls made in the test reach this daemon and this keyfile. Each test runs
// in a process of its own, which the GLib folder caches require.
class PrivateIBusDaemon {
public:
    PrivateIBusDaemon();
    ~PrivateIBusDaemon();

    QString componentFolder() const { return root_.filePath("component"); }
    QString configFolder() const { return root_.filePath("config"); }
    QString scratch(const QString& name) const { return root_.filePath(name); }
    QProcessEnvironment environment() const { return QProcessEnvironment::systemEnvironment(); }

    // Writes a component file offering the Tellwire engine; its exec only has to exist.
    static void writeComponent(const QString& path, const QString& exec = QStringLiteral("/bin/true"));

    // Starts the daemon and waits until it answers; false on timeout.
    bool start();
    // The daemon's current address (a restart gives it a new one).
    QString address() const;
    bool lists(const QString& engine) const;
    QString gsettings(const QStringList& arguments) const;

private:
    QTemporaryDir root_;
    QProcess daemon_;
};

} // namespace tellwire::testing
