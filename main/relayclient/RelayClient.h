#pragma once

#include "relayclient/API.h"
#include "relayclient/PhonePairing.h"
#include "relayclient/Router.h"
#include "relayclient/SignIn.h"

#include <QObject>
#include <QPointer>

#include <chrono>

namespace tellwire {

class DesktopState;
class EventPoller;

// This desktop's side of the relay: sign-in, the polling loop, and the routing
// of what arrives to the focused input session.
class RelayClient : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kRetryPause{3000};

    explicit RelayClient(DesktopState& state, QObject* parent = nullptr);
    ~RelayClient() override;

    DesktopState& state() const { return state_; }
    Router& router() { return router_; }
    SignIn& signIn() { return signIn_; }
    PhonePairing& pairing() { return pairing_; }

    // A client for the relay made from the model's base and token.
    API api() const;
    void setRequestTimeout(std::chrono::milliseconds timeout) { requestTimeout_ = timeout; }

    // Starts polling the relay for events (replacing a running poll); does
    // nothing without a token.
    void connect();
    bool isPolling() const;
    // Drops the token from the model and the secret store, after the relay refused it.
    void forgetToken();
    std::chrono::milliseconds retryPause() const { return retryPause_; }
    void setRetryPause(std::chrono::milliseconds pause) { retryPause_ = pause; }

private:
    DesktopState& state_;
    Router router_;
    SignIn signIn_;
    PhonePairing pairing_;
    QPointer<EventPoller> poller_;
    std::chrono::milliseconds retryPause_ = kRetryPause;
    std::chrono::milliseconds requestTimeout_ = API::kDefaultTimeout;
};

} // namespace tellwire
