#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace tellwire::testing {

// A headless ibus-daemon of the test's own, reading component files only from
// a folder of its own. The constructor points this process's HOME, XDG folders,
// IBUS_COMPONENT_PATH and GSettings (a keyfile in the private config folder) at
// private places, so libibus, GSettings and every program the test starts reach
// this daemon. GLib caches those folders on first use: one per test process.
class PrivateIBusDaemon {
public:
    // components: files linked into the component folder. extra: variables for
    // the daemon and the engines it starts. config: the daemon's --config;
    // engines that keep settings (as ibus-libpinyin does) need "default" and a
    // config component among the components.
    explicit PrivateIBusDaemon(const QStringList& components = {}, const QProcessEnvironment& extra = {},
                               const QString& config = QStringLiteral("disable"));
    ~PrivateIBusDaemon() { stop(); }

    // Starts the daemon and waits until it lists its engines; false, with the
    // reason in error(), if it does not within 20 s.
    bool start();
    void stop();
    const QString& error() const { return error_; }

    // The daemon's current address (a restart gives it a new one).
    QString address() const;
    // Whether `ibus list-engine` answers, and names engine when one is given.
    bool lists(const QString& engine = {}) const;
    // What `gsettings arguments...` prints, trimmed.
    static QString gsettings(const QStringList& arguments);

    // The component file Tellwire's build writes for the build tree.
    static QString tellwireComponent() { return QStringLiteral(TELLWIRE_COMPONENT_FILE); }

private:
    QTemporaryDir root_;
    QProcessEnvironment environment_;
    QString config_;
    QProcess daemon_;
    QString error_;
};

} // namespace tellwire::testing
