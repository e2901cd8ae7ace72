#pragma once

#include "input/TextClient.h"

#include <QString>

#include <functional>
#include <optional>

typedef struct _IBusEngine IBusEngine;

namespace tellwire {

// The text of one IBus input context, reached through the engine that serves
// it at the moment (none while the context has no focus).
class IBusTextClient final : public TextClient {
public:
    // composing: whether the marked text is a pinyin composition, which the
    // daemon itself commits into the context when the focus leaves it (the
    // engine hears of that too late to commit there). Other marked text
    // (interim voice) is dropped then.
    explicit IBusTextClient(std::function<bool()> composing = {});

    IBusEngine* engine() const { return engine_; }
    void setEngine(IBusEngine* engine);

    // Between these two calls commits are gathered and sent as one at the
    // end: several commits for one key event are lost or reordered by some
    // compositors.
    void beginKeyEvent();
    void endKeyEvent();
    // The daemon has committed the composition's preedit and cleared it itself
    // (on reset): the commit gathered since beginKeyEvent() is not sent again.
    void dropCommitTypedByDaemon();

    void setMarkedText(const QString& text, TextRange selection, TextRange replacement) override;
    void insertText(const QString& text, TextRange replacement) override;

    // A caret given in UTF-16 units as a count of characters (code points),
    // which is how IBus places the preedit caret.
    static unsigned characterOffset(const QString& text, qsizetype utf16Offset);

private:
    struct Preedit {
        QString text; // empty: hidden
        qsizetype caret = 0;
    };

    void showPreedit(const Preedit& preedit);
    void commit(const QString& text);

    std::function<bool()> composing_;
    IBusEngine* engine_ = nullptr;
    bool preeditShown_ = false;
    bool batching_ = false;
    QString pendingCommit_;
    std::optional<Preedit> pendingPreedit_;
};

} // namespace tellwire
