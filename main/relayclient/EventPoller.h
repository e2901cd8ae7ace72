#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <optional>

namespace tellwire {

class APICall;
class RelayClient;
struct APIError;

// The polling loop: asks the relay for the events after its cursor, hands
// each batch to the router, and retries after a pause when a request fails;
// a token the relay refuses ends it.
// Runs until cancelled; then it deletes itself.
class EventPoller final : public QObject {
    Q_OBJECT
public:
    explicit EventPoller(RelayClient& client);

    void start();
    // Ends the loop at its next step. A reply being handled is still handled in
    // full; a request in flight or the pause is dropped at once.
    void cancel();
    bool isCancelled() const { return cancelled_; }

private:
    void request();
    void received(const std::optional<APIError>& error, const QByteArray& body);
    void failed();
    void signedOut();
    void end();

    RelayClient& client_;
    qint64 cursor_ = -1;
    QPointer<APICall> call_;
    QTimer pause_;
    bool cancelled_ = false;
    bool handling_ = false;
};

} // namespace tellwire
