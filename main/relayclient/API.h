#pragma once

#include "relayclient/APIError.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QObject;

namespace tellwire {

class APICall;

// The relay's address and this desktop's token; builds checked URLs and sends
// JSON requests. A plain value: take a fresh one for every use.
class API {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{25000};
    // Replies are small; anything bigger is refused rather than held in memory.
    static constexpr qint64 kMaxReplyBytes = 16 * 1024 * 1024;

    // error is empty on success; body is the reply of a 2xx status.
    using BytesHandler = std::function<void(const std::optional<APIError>& error, const QByteArray& body)>;
    using ObjectHandler = std::function<void(const std::optional<APIError>& error, const QJsonObject& object)>;

    API(QString base, QString token, std::chrono::milliseconds timeout = kDefaultTimeout);

    const QString& base() const { return base_; }
    const QString& token() const { return token_; }
    std::chrono::milliseconds timeout() const { return timeout_; }

    // The endpoint's absolute address: https to any host, plain http only to
    // this machine. Fills error and returns nothing otherwise.
    std::optional<QUrl> url(const QString& path, APIError* error = nullptr) const;

    // Sends GET (no body) or POST (JSON body). The handler runs once, later, on
    // this thread, unless the call is cancelled or context is destroyed first.
    // The returned call belongs to context.
    APICall* request(const QString& path, const std::optional<QJsonObject>& body, QObject* context,
                     BytesHandler handler) const;
    // As request, and reads the reply as a JSON object.
    APICall* object(const QString& path, const std::optional<QJsonObject>& body, QObject* context,
                    ObjectHandler handler) const;

    // The one HTTP client of the process.
    static QNetworkAccessManager& network();

private:
    QString base_;
    QString token_;
    std::chrono::milliseconds timeout_;
};

} // namespace tellwire
