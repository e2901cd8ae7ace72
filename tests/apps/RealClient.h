#pragma once

// Real applications on Xvfb with the real Tellwire behind an input framework;
// keys go through the X server, dictation through the local relay. What a user
// must see is the same whichever framework carries it, so the frameworks' tests
// share this fixture and its table.
#include "support/FieldsApp.h"
#include "support/LocalRelay.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace tellwire::testing {

inline const QString kTellwire = QStringLiteral("cc.orrisfeld.tellwire.inputmethod"); // Tellwire's name on the bus

struct Client {
    const char* name;
    QString program;
    QStringList arguments;
    // What the first field keeps when the focus leaves it during an
    // utterance: some toolkits confirm the interim text shown there themselves.
    QString leftBehind;
};

inline void PrintTo(const Client& client, std::ostream* out) { *out << client.name; }

// The applications, toolkit by toolkit.
Client gtk3Client(QString leftBehind = {});
Client gtk4Client(QString leftBehind = {});
Client qt6Client(QString leftBehind = {});
Client chromiumClient(QString leftBehind = {});

class RealClient : public ::testing::TestWithParam<Client> {
protected:
    QProcess xvfb;
    QString display;
    LocalRelay relay{QStringLiteral(TELLWIRE_RELAY_EXECUTABLE)};
    QTemporaryDir browserProfile;
    FieldsApp app;
    QString window;

    // An X server, and the relay with the phone and the desktop signed in.
    void startDisplayAndRelay();
    // Starts the application with the framework's variables and focuses its first field.
    void startApp(const QProcessEnvironment& framework);

    QString xdotool(const QStringList& arguments);
    void type(const QString& keys);
    void press(const QString& key);
    void click(const char* field);
    QString field(const char* name) const { return app.field(name); }
    QString preedit() const { return app.field("preedit"); }
    bool until(const char* what, const std::function<bool()>& condition) { return app.until(what, condition); }
    // A composition opened and cancelled: Tellwire has handled everything the
    // application sent before, such as a reset when a field took the focus.
    void roundTrip();

    // The pinyin keyboard, shortcuts and Escape, dictation in place and across
    // a focus switch, and a password field.
    void typesWhereTheUserMeantAndNowhereElse();
};

} // namespace tellwire::testing
