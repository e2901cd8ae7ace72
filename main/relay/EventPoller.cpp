#include "relay/EventPoller.h"

#include "input/VoiceInputController.h"
#include "relay/APICall.h"
#include "relay/DesktopState.h"
#include "relay/EventBatch.h"

namespace tellwire {

EventPoller::EventPoller(DesktopState& state)
    : QObject(&state)
    , state_(state)
{
    pause_.setSingleShot(true);
    QObject::connect(&pause_, &QTimer::timeout, this, &EventPoller::request);
}

void EventPoller::start()
{
    request();
}

void EventPoller::cancel()
{
    cancelled_ = true;
    if (handling_)
        return; // received() ends the loop once the batch is handled
    end();
}

void EventPoller::request()
{
    if (cancelled_)
        return;
    const QString path = QStringLiteral("/v1/events?after=") + QString::number(state_.cursor());
    call_ = state_.api().request(path, std::nullopt, this,
                                 [this](const std::optional<APIError>& error, const QByteArray& body) {
                                     received(error, body);
                                 });
}

void EventPoller::received(const std::optional<APIError>& error, const QByteArray& body)
{
    call_ = nullptr;
    std::optional<EventBatch> batch;
    if (!error)
        batch = EventBatch::decode(body);
    if (!batch) {
        if (cancelled_)
            return end();
        return failed();
    }

    handling_ = true;
    state_.setCursor(batch->cursor);
    state_.setStatus(batch->events.isEmpty() ? QStringLiteral("已连接服务器")
                                             : QStringLiteral("正在接收手机文字"));
    for (const Transcript& event : std::as_const(batch->events))
        state_.consume(event);
    handling_ = false;

    if (cancelled_)
        return end();
    request();
}

void EventPoller::failed()
{
    state_.setStatus(QStringLiteral("连接中断，正在重连"));
    state_.setCursor(-1);
    if (VoiceInputController* active = state_.active())
        active->abandonVoice();
    pause_.start(state_.retryPause());
}

void EventPoller::end()
{
    pause_.stop();
    if (call_)
        call_->cancel();
    call_ = nullptr;
    deleteLater();
}

} // namespace tellwire
