#include "fcitx/FcitxHost.h"

#include "TellwireProtocol.h"
#include "ibus/KeyTranslation.h"
#include "model/AppShell.h"
#include "model/DesktopState.h"
#include "pinyin/Pinyin.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>

#include <chrono>

namespace tellwire {

FcitxHost::FcitxHost(DesktopState& state, Router& router, AppShell* shell, QObject* parent)
    : QObject(parent)
    , state_(state)
    , router_(router)
    , shell_(shell)
    , sessions_([this](const QString& id) {
        return std::make_unique<FcitxSession>(id, state_, router_, shell_,
                                              [this](const QString& to, const FcitxOutput& output) { push(to, output); });
    })
{
    // A mode switched from the tray shows in fcitx5's indicator too.
    connect(&state_, &DesktopState::chineseChanged, this, [this] {
        if (!inCall_ && !focused_.isEmpty())
            push(focused_, {});
    });
}

FcitxHost::~FcitxHost() = default;

bool FcitxHost::start()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // The addon waits for each answer only a few tens of milliseconds: the
    // dictionary is read before it is told that Tellwire serves, or as soon as
    // fcitx5 appears, not in the first key. Without fcitx5 (IBus) it waits for
    // the first key that needs it.
    const QString fcitx5 = QStringLiteral("org.fcitx.Fcitx5");
    auto* appearing = new QDBusServiceWatcher(fcitx5, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(appearing, &QDBusServiceWatcher::serviceRegistered, this, [] { Pinyin::shared(); });
    if (bus.interface()->isServiceRegistered(fcitx5))
        Pinyin::shared();
    if (!bus.registerObject(QString::fromLatin1(protocol::kPath), this, QDBusConnection::ExportScriptableSlots))
        return false;
    bus.send(QDBusMessage::createSignal(QString::fromLatin1(protocol::kPath), QString::fromLatin1(protocol::kInterface),
                                        QString::fromLatin1(protocol::kReadySignal)));
    return true;
}

template <typename Work>
void FcitxHost::answer(FcitxSession* session, Work&& work)
{
    bool handled = false;
    FcitxOutput output;
    if (session) {
        inCall_ = true;
        session->client().beginCall();
        handled = work(session->controller());
        output = session->client().endCall();
        inCall_ = false;
    }
    if (!calledFromDBus())
        return;
    setDelayedReply(true);
    QList<QVariant> arguments = wire(output);
    arguments.prepend(handled);
    connection().send(message().createReply(arguments));
}

QList<QVariant> FcitxHost::wire(const FcitxOutput& output) const
{
    const FcitxOutput::Preedit preedit = output.preedit.value_or(FcitxOutput::Preedit{});
    return {output.commit, output.preedit.has_value(), preedit.text, preedit.caretBytes, preedit.composing,
            output.panel, output.candidates, state_.chinese()};
}

void FcitxHost::push(const QString& id, const FcitxOutput& output)
{
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(protocol::kPath),
                                                     QString::fromLatin1(protocol::kInterface),
                                                     QString::fromLatin1(protocol::kOutputSignal));
    QList<QVariant> arguments = wire(output);
    arguments.prepend(false);
    arguments.prepend(id);
    signal.setArguments(arguments);
    QDBusConnection::sessionBus().send(signal);
}

FcitxSession& FcitxHost::enter(const QString& id)
{
    if (!focused_.isEmpty() && focused_ != id) {
        // The addon missed a focus-out (it restarted): the old field is left now.
        if (FcitxSession* old = sessions_.find(focused_))
            old->controller().deactivateServer();
    }
    focused_ = id;
    return sessions_.focus(id);
}

void FcitxHost::FocusIn(const QString& id, bool secret)
{
    answer(&enter(id), [secret](VoiceInputController& controller) {
        controller.activateServer();
        controller.setSecret(secret);
        return false;
    });
}

void FcitxHost::FocusOut(const QString& id)
{
    if (focused_ == id)
        focused_.clear();
    FcitxSession* session = sessions_.find(id);
    answer(session, [session](VoiceInputController& controller) {
        // The client (or fcitx5 for it) commits a composition's preedit as the focus leaves.
        const bool composing = !controller.pinyin().isEmpty();
        controller.deactivateServer();
        if (composing)
            session->client().dropCommitTypedByClient();
        return false;
    });
}

void FcitxHost::Reset(const QString& id)
{
    // Toolkits reset their context when the caret is put elsewhere, maybe in another field.
    answer(sessions_.find(id), [](VoiceInputController& controller) {
        controller.fieldMayHaveChanged();
        return false;
    });
}

void FcitxHost::SetSecret(const QString& id, bool secret)
{
    answer(sessions_.find(id), [secret](VoiceInputController& controller) {
        controller.setSecret(secret);
        return false;
    });
}

void FcitxHost::CaretMoved(const QString& id)
{
    answer(sessions_.find(id), [](VoiceInputController& controller) {
        controller.caretMoved();
        return false;
    });
}

void FcitxHost::ProcessKey(const QString& id, uint keysym, uint state, qulonglong sent)
{
    // Both ends read the same steady clock (CLOCK_MONOTONIC).
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    if (now - std::chrono::microseconds(sent) > std::chrono::milliseconds(protocol::kFreshKeyMs)) {
        answer(nullptr, [](VoiceInputController&) { return false; });
        return;
    }
    // Keys come only to the focused context; one unknown here means Tellwire
    // started after the focus went there.
    FcitxSession* session = focused_ == id ? sessions_.find(id) : nullptr;
    const bool entered = !session;
    if (entered)
        session = &enter(id);
    // fcitx5 passes X11 keysyms and modifier masks, as IBus does.
    const KeyEvent event = translateKey(keysym, state);
    answer(session, [&](VoiceInputController& controller) {
        if (entered)
            controller.activateServer();
        return event.keyDown && (controller.recognizedEvents() & VoiceInputController::kKeyDownMask)
            && controller.handle(&event);
    });
}

void FcitxHost::SelectCandidate(const QString& id, uint index)
{
    answer(sessions_.find(id), [index](VoiceInputController& controller) {
        const QStringList candidates = controller.candidates();
        controller.candidateSelected(index < uint(candidates.size()) ? std::optional(candidates.at(index))
                                                                     : std::nullopt);
        return false;
    });
}

void FcitxHost::Forget(const QString& id)
{
    if (focused_ == id)
        focused_.clear();
    sessions_.forget(id);
    answer(nullptr, [](VoiceInputController&) { return false; });
}

void FcitxHost::ShowPanel()
{
    if (AppShell* shell = shell_)
        shell->showPanel();
}

void FcitxHost::ShowSettings()
{
    if (AppShell* shell = shell_)
        shell->showSettings();
}

} // namespace tellwire
