#pragma once

#include <QString>
#include <QUuid>

namespace tellwire {

// What routing needs of an input session: who it is, which stretch of focus it
// is in, and a way to type dictated text there. The input controller implements it.
class VoiceTarget {
public:
    virtual ~VoiceTarget() = default;

    virtual const QUuid& identity() const = 0;
    // Renewed at every focus change, so text bound to an earlier stretch of
    // focus is never typed into a later one.
    virtual const QUuid& focusEpoch() const = 0;
    // Interim text is shown provisionally, final text is typed.
    virtual void voice(const QString& text, bool final, const QString& id) = 0;
    // Takes interim text off the screen and forgets its utterance.
    virtual void abandonVoice() = 0;
};

} // namespace tellwire
