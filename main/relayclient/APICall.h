#pragma once

#include "relayclient/API.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QNetworkReply;

namespace tellwire {

// One request in flight: collects the reply within its size limit and deadline
// and hands the outcome to its handler exactly once. Deleting it (or cancel())
// aborts the request without calling the handler.
class APICall final : public QObject {
    Q_OBJECT
public:
    // Takes over reply; nullptr with an error fails without sending anything.
    APICall(QNetworkReply* reply, std::chrono::milliseconds timeout, qint64 maxBytes,
            API::BytesHandler handler, QObject* parent);
    APICall(const APIError& error, API::BytesHandler handler, QObject* parent);
    ~APICall() override;

    // Drops the request; the handler is never called.
    void cancel();
    // True once the handler has run (or is running).
    bool isDone() const { return done_; }

private:
    void readAvailable();
    void finish();
    void timeOut();
    void deliver(std::optional<APIError> error, QByteArray body);

    QPointer<QNetworkReply> reply_;
    QTimer deadline_;
    qint64 maxBytes_ = 0;
    QByteArray body_;
    API::BytesHandler handler_;
    bool timedOut_ = false;
    bool tooLarge_ = false;
    bool done_ = false;
};

} // namespace tellwire
