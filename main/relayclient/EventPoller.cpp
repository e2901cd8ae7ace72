#include "relayclient/EventPoller.h"

#include "model/DesktopState.h"
#include "relayclient/APICall.h"
#include "relayclient/EventBatch.h"
#include "relayclient/RelayClient.h"

namespace tellwire {

EventPoller::EventPoller(RelayClient& client)
    : QObject(&client)
    , client_(client)
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
    const QString path = QStringLiteral("/v1/events?after=") + QString::number(cursor_);
    call_ = client_.api().request(path, std::nullopt, this,
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
        if (error && error->refusesToken())
            return signedOut();
        return failed();
    }

    handling_ = true;
    cursor_ = batch->cursor;
    client_.state().setStatus(batch->events.isEmpty() ? QStringLiteral("已连接服务器")
                                                      : QStringLiteral("正在接收手机文字"));
    for (const Transcript& event : std::as_const(batch->events))
        client_.router().consume(event);
    handling_ = false;

    if (cancelled_)
        return end();
    request();
}

void EventPoller::failed()
{
    client_.state().setStatus(QStringLiteral("连接中断，正在重连"));
    cursor_ = -1; // the relay may have restarted and numbered its events anew
    client_.router().abandonActive();
    pause_.start(client_.retryPause());
}

void EventPoller::signedOut()
{
    // Asking again with a refused token would only fail again, in silence.
    client_.router().abandonActive();
    client_.forgetToken();
    client_.state().setStatus(QStringLiteral("未连接手机"));
    client_.state().setError(QStringLiteral("登录已失效，请重新登录"));
    cancelled_ = true;
    end();
    client_.signIn().signInAgain();
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
