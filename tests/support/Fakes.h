#pragma once

// Recording stand-ins for the host-neutral interfaces.

#include "input/CandidateWindow.h"
#include "input/TextClient.h"
#include "model/AppShell.h"

#include <QString>

#include <ostream>
#include <vector>

namespace tellwire::testing {

struct ClientCall {
    enum Kind { Marked, Insert } kind;
    QString text;
    TextRange selection; // marked text only
    TextRange replacement;

    friend bool operator==(const ClientCall&, const ClientCall&) = default;
    friend std::ostream& operator<<(std::ostream& out, const ClientCall& call)
    {
        return out << (call.kind == Marked ? "marked(\"" : "insert(\"") << call.text.toStdString()
                   << "\", " << call.selection.location << "," << call.selection.length << ")";
    }
};

inline ClientCall marked(const QString& text, qsizetype caret)
{
    return {ClientCall::Marked, text, {caret, 0}, kNoReplacement};
}
inline ClientCall inserted(const QString& text)
{
    return {ClientCall::Insert, text, {}, kNoReplacement};
}

// Records every call and keeps what a real client would show.
class RecordingClient final : public TextClient {
public:
    std::vector<ClientCall> calls;
    QString committed; // everything inserted so far
    QString markedText; // the marked text on screen now

    void setMarkedText(const QString& text, TextRange selection, TextRange replacement) override
    {
        calls.push_back({ClientCall::Marked, text, selection, replacement});
        markedText = text;
    }
    void insertText(const QString& text, TextRange replacement) override
    {
        calls.push_back({ClientCall::Insert, text, {}, replacement});
        committed += text;
        markedText.clear();
    }
};

class RecordingCandidateWindow final : public CandidateWindow {
public:
    bool visible = false;

    void update() override {}
    void show() override { visible = true; }
    void hide() override { visible = false; }
};

class RecordingShell final : public AppShell {
public:
    int panelShows = 0;
    int panelHides = 0;
    int idleShows = 0;
    int settingsShows = 0;

    void showPanel() override { ++panelShows; }
    void hidePanel() override { ++panelHides; }
    void showPanelIfIdle() override { ++idleShows; }
    void showSettings() override { ++settingsShows; }
};

} // namespace tellwire::testing
