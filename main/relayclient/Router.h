#pragma once

#include "model/Transcript.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>

namespace tellwire {

class DesktopState;
class VoiceTarget;

// Hands each utterance to the input session that had focus when the utterance
// began, and puts every final text into the history.
class Router : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kRouteLimit = 200;
    // Events older than this (by the local clock) are never typed.
    static constexpr double kFreshnessMs = 3000;

    explicit Router(DesktopState& state, QObject* parent = nullptr);

    // The session with focus, or null.
    VoiceTarget* active() const { return active_; }
    void focus(VoiceTarget* target) { active_ = target; }
    // Forgets target as the focused session, if it is.
    void leave(VoiceTarget* target);

    // Handles events in order: history, routing to the focused session.
    void consume(const Transcript& event);
    void consume(const QList<Transcript>& batch);
    // Takes the focused session's interim text off the screen.
    void abandonActive();

    // Milliseconds since 1970 by the local clock; replaceable for tests.
    void setClock(std::function<double()> clock) { clock_ = std::move(clock); }

private:
    // Where an utterance is to be typed: the session and its stretch of focus
    // when the utterance was first seen.
    struct Route {
        QUuid identity;
        QUuid focusEpoch;
    };

    void route(const Transcript& event, const QString& utterance, bool final);
    void showPanelIfIdle();

    DesktopState& state_;
    VoiceTarget* active_ = nullptr;
    std::function<double()> clock_;
    QSet<QString> seen_;
    QHash<QString, Route> routes_;
};

} // namespace tellwire
