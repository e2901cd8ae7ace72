#pragma once

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QString>

#include <optional>

namespace tellwire::testing {

// The local relay (tellwire-relay) on a free loopback port, with the caller
// as the phone and as the person who signs in.
class LocalRelay {
public:
    static constexpr const char* kPhone = "13800138000";
    static constexpr const char* kCode = "123456";

    explicit LocalRelay(QString executable);
    ~LocalRelay();

    bool start();
    // A token for the number in role "desktop" or "phone".
    QString signIn(const QString& role);
    // Publishes one event as the phone (phoneToken must be set).
    bool say(const QString& utterance, const QString& text, bool final);

    QString origin;
    QString phoneToken;

private:
    std::optional<QJsonObject> post(const QString& path, const QJsonObject& body, const QString& token = {});

    QString executable_;
    QProcess relay_;
    QNetworkAccessManager network_;
};

// Keeps the desktop's token where Tellwire looks for it (the Secret Service),
// as a person signing in would.
bool storeDesktopToken(const QString& token);

} // namespace tellwire::testing
