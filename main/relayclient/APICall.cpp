#include "relayclient/APICall.h"

#include <QNetworkReply>

#include <utility>

namespace tellwire {

namespace {

// Failures of the connection itself, as opposed to replies with an error status.
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    const int code = error;
    return (code >= 1 && code <= 199) || (code >= 300 && code <= 399)
        || error == QNetworkReply::ContentReSendError;
}

} // namespace

APICall::APICall(QNetworkReply* reply, std::chrono::milliseconds timeout, qint64 maxBytes,
                 API::BytesHandler handler, QObject* parent)
    : QObject(parent)
    , reply_(reply)
    , maxBytes_(maxBytes)
    , handler_(std::move(handler))
{
    QObject::connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxBytes_) {
            tooLarge_ = true;
            reply_->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, this, &APICall::readAvailable);
    QObject::connect(reply, &QNetworkReply::finished, this, &APICall::finish);
    deadline_.setSingleShot(true);
    QObject::connect(&deadline_, &QTimer::timeout, this, &APICall::timeOut);
    deadline_.start(timeout);
}

APICall::APICall(const APIError& error, API::BytesHandler handler, QObject* parent)
    : QObject(parent)
    , handler_(std::move(handler))
{
    // Callers always hear back later, never from inside their own call.
    QMetaObject::invokeMethod(this, [this, error] { deliver(error, {}); }, Qt::QueuedConnection);
}

APICall::~APICall()
{
    if (reply_) {
        QObject::disconnect(reply_, nullptr, this, nullptr);
        reply_->abort();
        reply_->deleteLater();
    }
}

void APICall::cancel()
{
    done_ = true;
    deleteLater();
    if (reply_) {
        QObject::disconnect(reply_, nullptr, this, nullptr);
        reply_->abort();
        reply_->deleteLater();
        reply_ = nullptr;
    }
}

void APICall::readAvailable()
{
    if (!reply_ || tooLarge_)
        return;
    if (body_.size() + reply_->bytesAvailable() > maxBytes_) {
        tooLarge_ = true;
        reply_->abort();
        return;
    }
    body_.append(reply_->readAll());
}

void APICall::timeOut()
{
    timedOut_ = true;
    if (reply_)
        reply_->abort();
}

void APICall::finish()
{
    if (done_ || !reply_)
        return;
    deadline_.stop();
    readAvailable();
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->deleteLater();

    if (tooLarge_) {
        deliver(APIError{QStringLiteral("服务器响应过大"), 0, APIError::Source::Transport}, {});
        return;
    }
    if (timedOut_) {
        deliver(APIError{QStringLiteral("请求超时，请检查网络后重试"), 0, APIError::Source::Transport}, {});
        return;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (isTransportFailure(reply->error()) || (reply->error() != QNetworkReply::NoError && !status.isValid())) {
        deliver(APIError{reply->errorString(), 0, APIError::Source::Transport}, {});
        return;
    }
    const qint64 code = status.isValid() ? status.toLongLong() : 0;
    if (code >= 200 && code <= 299 && reply->error() != QNetworkReply::NoError) {
        // A good status whose body could not be read (say, failed decompression).
        deliver(APIError{reply->errorString(), 0, APIError::Source::Transport}, {});
        return;
    }
    if (code >= 200 && code <= 299)
        deliver(std::nullopt, std::move(body_));
    else
        deliver(APIError::fromReply(code, body_), {});
}

void APICall::deliver(std::optional<APIError> error, QByteArray body)
{
    if (done_)
        return;
    done_ = true;
    deleteLater();
    // The handler may delete this call's owner, and with it this call: nothing
    // of this object is touched after it returns.
    const API::BytesHandler handler = std::move(handler_);
    if (handler)
        handler(error, body);
}

} // namespace tellwire
