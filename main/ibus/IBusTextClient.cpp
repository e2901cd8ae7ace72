// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "ibus/IBusTextClient.h"

#include <QStringView>

namespace tellwire {

IBusTextClient::IBusTextClient(std::function<bool()> composing)
    : composing_(std::move(composing))
{
}

void IBusTextClient::setEngine(IBusEngine* engine)
{
    engine_ = engine;
    // A newly attached engine starts with the context's preedit cleared.
    preeditShown_ = false;
}

void IBusTextClient::beginKeyEvent()
{
    batching_ = true;
}

void IBusTextClient::endKeyEvent()
{
    batching_ = false;
    const QString text = std::exchange(pendingCommit_, QString());
    std::optional<Preedit> preedit = std::exchange(pendingPreedit_, std::nullopt);
    if (!text.isEmpty())
        commit(text);
    if (preedit)
        showPreedit(*preedit);
}

void IBusTextClient::dropCommitTypedByDaemon()
{
    pendingCommit_.clear();
    preeditShown_ = false;
}

void IBusTextClient::setMarkedText(const QString& text, TextRange selection, TextRange)
{
    Preedit preedit{text, selection.location};
    if (batching_)
        pendingPreedit_ = preedit;
    else
        showPreedit(preedit);
}

void IBusTextClient::insertText(const QString& text, TextRange)
{
    if (batching_) {
        // The commit replaces whatever marked text was set before it.
        pendingCommit_ += text;
        pendingPreedit_.reset();
        return;
    }
    commit(text);
}

unsigned IBusTextClient::characterOffset(const QString& text, qsizetype utf16Offset)
{
    const qsizetype end = std::clamp<qsizetype>(utf16Offset, 0, text.size());
    unsigned characters = 0;
    for (qsizetype i = 0; i < end; ++i) {
        // A low surrogate completes the character its high surrogate started.
        if (!(text.at(i).isLowSurrogate() && i > 0 && text.at(i - 1).isHighSurrogate()))
            ++characters;
    }
    return characters;
}

void IBusTextClient::showPreedit(const Preedit& preedit)
{
    if (!engine_)
        return;
    if (preedit.text.isEmpty()) {
        if (!preeditShown_)
            return;
        ibus_engine_update_preedit_text_with_mode(engine_, ibus_text_new_from_static_string(""), 0, FALSE,
                                                  IBUS_ENGINE_PREEDIT_CLEAR);
        preeditShown_ = false;
        return;
    }
    IBusText* text = ibus_text_new_from_string(preedit.text.toUtf8().constData());
    ibus_text_append_attribute(text, IBUS_ATTR_TYPE_UNDERLINE, IBUS_ATTR_UNDERLINE_SINGLE, 0,
                               int(ibus_text_get_length(text)));
    const bool composing = composing_ && composing_();
    ibus_engine_update_preedit_text_with_mode(engine_, text, characterOffset(preedit.text, preedit.caret), TRUE,
                                              composing ? IBUS_ENGINE_PREEDIT_COMMIT : IBUS_ENGINE_PREEDIT_CLEAR);
    preeditShown_ = true;
}

void IBusTextClient::commit(const QString& text)
{
    if (!engine_)
        return;
    // Some clients type the preedit a second time when it is still up at a commit.
    showPreedit({});
    ibus_engine_commit_text(engine_, ibus_text_new_from_string(text.toUtf8().constData()));
}

} // namespace tellwire
