#include "relayclient/RelayClient.h"

#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "relayclient/EventPoller.h"

namespace tellwire {

RelayClient::RelayClient(DesktopState& state, QObject* parent)
    : QObject(parent)
    , state_(state)
    , router_(state)
    , signIn_(*this)
    , pairing_(*this)
{
}

// The poller is a child: it goes with this object.
RelayClient::~RelayClient() = default;

API RelayClient::api() const
{
    return API(state_.base(), state_.token(), requestTimeout_);
}

void RelayClient::connect()
{
    if (!state_.hasToken())
        return;
    if (poller_)
        poller_->cancel();
    poller_ = new EventPoller(*this);
    poller_->start();
}

void RelayClient::forgetToken()
{
    state_.setToken(QString());
    state_.secrets().save(DesktopState::kTokenAccount, QString());
}

bool RelayClient::isPolling() const
{
    return poller_ && !poller_->isCancelled();
}

} // namespace tellwire
