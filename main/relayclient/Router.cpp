#include "relayclient/Router.h"

#include "model/AppShell.h"
#include "model/DesktopState.h"
#include "relayclient/VoiceTarget.h"

#include <QDateTime>

namespace tellwire {

Router::Router(DesktopState& state, QObject* parent)
    : QObject(parent)
    , state_(state)
    , clock_([] { return double(QDateTime::currentMSecsSinceEpoch()); })
{
    // Paused, nothing is typed: interim text already shown goes too.
    connect(&state_, &DesktopState::pausedChanged, this, [this] {
        if (state_.paused())
            abandonActive();
    });
}

void Router::leave(VoiceTarget* target)
{
    if (active_ == target)
        active_ = nullptr;
}

void Router::abandonActive()
{
    if (active_)
        active_->abandonVoice();
}

void Router::consume(const QList<Transcript>& batch)
{
    for (const Transcript& event : batch)
        consume(event);
}

void Router::consume(const Transcript& event)
{
    if (event.utterance && event.text) {
        route(event, *event.utterance, event.isFinal());
        return;
    }
    if (event.type == QLatin1String("session_end"))
        abandonActive();
}

void Router::route(const Transcript& event, const QString& utterance, bool final)
{
    if (final) {
        const qsizetype before = seen_.size();
        seen_.insert(utterance);
        if (seen_.size() == before)
            return; // a repeat of a final already taken
        state_.addToHistory(event);
    }

    VoiceTarget* target = active_;
    auto bound = routes_.constFind(utterance);
    if (bound == routes_.cend()) {
        // An utterance that starts with no session focused is bound to nobody.
        const Route route = target ? Route{target->identity(), target->focusEpoch()}
                                   : Route{QUuid::createUuid(), QUuid::createUuid()};
        bound = routes_.insert(utterance, route);
    }

    const bool typeable = !state_.paused() && clock_() - event.at < kFreshnessMs && target;
    if (typeable && bound->identity == target->identity() && bound->focusEpoch == target->focusEpoch())
        target->voice(*event.text, final, utterance);
    if (final)
        routes_.remove(utterance);
    if (!typeable) {
        showPanelIfIdle();
        return;
    }
    if (routes_.size() > kRouteLimit)
        routes_.clear();
}

void Router::showPanelIfIdle()
{
    if (AppShell* shell = state_.shell())
        shell->showPanelIfIdle();
}

} // namespace tellwire
