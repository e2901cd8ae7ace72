#pragma once

#include "input/CandidateWindow.h"
#include "input/KeyEvent.h"
#include "input/TextClient.h"
#include "relayclient/VoiceTarget.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace tellwire {

class AppShell;
class DesktopState;
class Pinyin;
class Router;

// The input controller of one client input session: tracks its focus, delivers
// dictated text into the client and (with the pinyin keyboard) composes text.
// Everything runs on the main thread.
class VoiceInputController : public QObject, public VoiceTarget {
    Q_OBJECT
public:
    static constexpr qsizetype kQueueLimit = 30;
    // Longest composition, in letters; further letters are swallowed.
    static constexpr qsizetype kLongestComposition = 64;
    // The only events the controller wants: key-downs.
    static constexpr std::uint64_t kKeyDownMask = 1u << 10;
    // Caret moves, with no key and no text of ours in between, after which the
    // field is taken to get its keys past the input method.
    static constexpr int kCaretMovesWithoutKeys = 4;

    // state: the model the controller takes the language mode from; router:
    // where it reports focus; shell: the application's windows (may be null);
    // makeCandidateWindow: may be empty or yield nothing; dictionary: null means
    // Pinyin::shared(), first touched by the first key that needs it.
    VoiceInputController(DesktopState& state, Router& router, AppShell* shell = nullptr,
                                  CandidateWindowFactory makeCandidateWindow = {},
                                  QObject* parent = nullptr, const Pinyin* dictionary = nullptr);
    ~VoiceInputController() override;

    // The client of this session, or none; the host owns it.
    TextClient* client() const { return client_; }
    void setClient(TextClient* client) { client_ = client; }

    const QUuid& identity() const override { return identity_; }
    const QUuid& focusEpoch() const override { return focusEpoch_; }

    // Focus gained / lost, and the client's request to finish provisional text.
    void activateServer();
    void deactivateServer();
    void commitComposition();
    // The field takes a password or a PIN: keys pass untouched, and no
    // dictated text is shown or typed there (it stays in the history). A
    // change starts a new stretch of focus, as the field may have changed.
    void setSecret(bool secret);
    bool secret() const { return secret_; }
    // The client reset the session: the field may have changed (some clients
    // keep one session for all their fields), so this is a new stretch of focus.
    void fieldMayHaveChanged();
    // The caret moved. When it keeps moving while no key reaches the
    // controller, the user is typing into a field that hides its keys from
    // the input method (a password field, for toolkits that do not say so):
    // no dictated text goes there until a key arrives again.
    void caretMoved();

    // The one entry for dictated text: interim text becomes marked text, final
    // text is inserted; held back while a composition is open.
    void voice(const QString& text, bool final, const QString& id) override;
    // Inserts the finals held back during a composition (only while active).
    void flush();
    // Takes interim voice text off the screen and forgets its utterance.
    void abandonVoice() override;
    void clearMarked();

    std::uint64_t recognizedEvents() const { return kKeyDownMask; }
    // Decides what one key does; true = consumed, the application must not see it.
    // A null event is no event.
    bool handle(const KeyEvent* event);
    // The candidates on offer for the open composition, best first.
    QStringList candidates() const { return choices_; }
    // A candidate picked with the mouse (absent = nothing picked).
    void candidateSelected(const std::optional<QString>& text);
    // Recomputes the candidates and redraws the composition and its window.
    void updatePinyin();
    // Commits the candidate at index, or the raw letters when there is none,
    // and closes the composition.
    void commitPinyin(qsizetype index = 0);

    const QString& pinyin() const { return pinyin_; }
    const QStringList& choices() const { return choices_; }
    const std::optional<QString>& voiceID() const { return voiceID_; }
    const QSet<QString>& discarded() const { return discarded_; }
    const std::vector<std::pair<QString, QString>>& queued() const { return queued_; }
    CandidateWindow* candidatePanel() const { return candidatePanel_.get(); }

private:
    const Pinyin& dictionary() const;
    void hideCandidates();
    void interruptVoice();
    void newStretch();
    void mark(const QString& text);
    void insert(const QString& text);
    void expectEchoes(int count);

    DesktopState& state_;
    Router& router_;
    AppShell* shell_;
    CandidateWindowFactory makeCandidateWindow_;
    mutable const Pinyin* dictionary_;
    TextClient* client_ = nullptr;

    const QUuid identity_ = QUuid::createUuid();
    QUuid focusEpoch_ = QUuid::createUuid();
    QString pinyin_;
    QStringList choices_;
    std::optional<QString> voiceID_;
    QSet<QString> discarded_;
    std::vector<std::pair<QString, QString>> queued_; // (utterance, text), oldest first
    std::unique_ptr<CandidateWindow> candidatePanel_;
    bool secret_ = false;
    bool keysBypass_ = false;
    int caretMoves_ = 0;
    QString marked_;    // what the field shows as marked text, as far as we know
    int ownEchoes_ = 0; // caret moves still to come from our own changes to the field
};

} // namespace tellwire
