#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace tellwire::testing {

// fcitx5 on the test session's bus, on the display its environment names if
// any, with the Tellwire addon and input method from the build tree beside its
// own; its profile in the session's XDG_CONFIG_HOME.
class PrivateFcitx5 {
public:
    ~PrivateFcitx5();

    // Writes the profile: the groups' input methods, as fcitx5 keeps them.
    static bool writeProfile(const QByteArray& text);
    static QString profilePath();
    // The input methods of the current group, as the running fcitx5 reports them.
    static QStringList currentGroup();

    // environment: added to the test's own (DISPLAY, what Tellwire needs).
    bool start(const QProcessEnvironment& environment = {});
    void stop();

private:
    QProcess fcitx_;
};

} // namespace tellwire::testing
