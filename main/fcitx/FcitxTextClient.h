#pragma once

#include "input/TextClient.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace tellwire {

// What one fcitx5 input context must show after a call: the wire form the
// addon applies in order (commit, preedit, candidates).
struct FcitxOutput {
    struct Preedit {
        QString text; // empty: hidden
        int caretBytes = 0;
        bool composing = false;
    };
    QString commit;
    std::optional<Preedit> preedit;
    int panel = 0; // protocol::Panel
    QStringList candidates;

    bool empty() const { return commit.isEmpty() && !preedit && panel == 0; }
};

// The text of one fcitx5 input context. Changes made during a call from the
// addon are gathered and go back in its reply; changes made between calls
// (dictated text) go out at once through `push`.
class FcitxTextClient final : public TextClient {
public:
    // composing: whether the marked text is a pinyin composition, which the
    // client commits itself when the focus leaves; other marked text (interim
    // voice) is dropped then.
    FcitxTextClient(std::function<bool()> composing, std::function<void(const FcitxOutput&)> push);

    void beginCall();
    FcitxOutput endCall();
    // The composition has been committed by the client as the focus left:
    // what was gathered since beginCall() is not committed again.
    void dropCommitTypedByClient();

    void setMarkedText(const QString& text, TextRange selection, TextRange replacement) override;
    void insertText(const QString& text, TextRange replacement) override;
    void showCandidates(const QStringList& candidates);
    void hideCandidates();

private:
    void changed();

    std::function<bool()> composing_;
    std::function<void(const FcitxOutput&)> push_;
    bool inCall_ = false;
    FcitxOutput pending_;
};

} // namespace tellwire
