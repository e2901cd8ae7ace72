#include "TellwireAddon.h"

#include "TellwireProtocol.h"

#include <fcitx-utils/capabilityflags.h>
#include <fcitx/candidatelist.h>
#include <fcitx/event.h>
#include <fcitx/inputcontextmanager.h>
#include <fcitx/inputmethodentry.h>
#include <fcitx/inputpanel.h>
#include <fcitx/statusarea.h>
#include <fcitx/text.h>
#include <fcitx/userinterface.h>
#include <fcitx/userinterfacemanager.h>

#include <chrono>
#include <cstdint>

namespace tellwire {

namespace {

// When a key leaves for Tellwire, on the clock Tellwire reads too.
std::uint64_t sentNow()
{
    return std::uint64_t(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

// One candidate of fcitx5's list; picking it asks Tellwire.
class Candidate final : public fcitx::CandidateWord {
public:
    Candidate(TellwireAddon& addon, const std::string& text, int index)
        : fcitx::CandidateWord(fcitx::Text(text))
        , addon_(addon)
        , index_(index)
    {
    }

    void select(fcitx::InputContext* ic) const override { addon_.select(*ic, index_); }

private:
    TellwireAddon& addon_;
    int index_;
};

} // namespace

TellwireAddon::TellwireAddon(fcitx::Instance* instance)
    : instance_(instance)
    , link_(instance->eventLoop(),
            [this](const std::string& id, const Answer& answer) {
                if (fcitx::InputContext* ic = contextOf(id))
                    apply(*ic, answer);
            },
            [this] { tellwireAppeared(); })
{
    using fcitx::EventType;
    auto watch = [this](EventType type, auto handle) {
        watchers_.push_back(instance_->watchEvent(type, fcitx::EventWatcherPhase::Default, [this, handle](fcitx::Event& event) {
            auto* ic = static_cast<fcitx::InputContextEvent&>(event).inputContext();
            if (ic && ic == focused_.get() && isOurs(ic))
                handle(*ic);
        }));
    };
    // GTK says a field takes a password after the focus came to it.
    watch(EventType::InputContextCapabilityChanged, [this](fcitx::InputContext& ic) {
        if (secret(ic) != focusedSecret_) {
            focusedSecret_ = secret(ic);
            call(ic, "SetSecret", focusedSecret_);
        }
    });
    // Caret moves without keys: a field that hides its keys from input methods.
    watch(EventType::InputContextCursorRectChanged, [this](fcitx::InputContext& ic) {
        const fcitx::Rect caret = ic.cursorRect();
        const bool moved = caretKnown_ && !(caret == caret_);
        caretKnown_ = true;
        caret_ = caret;
        if (moved)
            call(ic, "CaretMoved");
    });
    watchers_.push_back(instance_->watchEvent(
        EventType::InputContextDestroyed, fcitx::EventWatcherPhase::Default, [this](fcitx::Event& event) {
            const std::string id = idOf(*static_cast<fcitx::InputContextEvent&>(event).inputContext());
            outOfSync_.erase(id);
            link_.tell("Forget", id);
        }));
    auto offer = [this](fcitx::SimpleAction& action, const char* name, const char* label, const char* method) {
        action.setShortText(label);
        action.connect<fcitx::SimpleAction::Activated>([this, method](fcitx::InputContext*) { open(method); });
        instance_->userInterfaceManager().registerAction(name, &action);
    };
    offer(showPanel_, "tellwire-show-panel", "显示语音记录", "ShowPanel");
    offer(showSettings_, "tellwire-show-settings", "语音输入设置", "ShowSettings");
}

TellwireAddon::~TellwireAddon() = default;

std::string TellwireAddon::idOf(const fcitx::InputContext& ic)
{
    static const char digits[] = "0123456789abcdef";
    std::string id;
    for (std::uint8_t byte : ic.uuid()) {
        id += digits[byte >> 4];
        id += digits[byte & 15];
    }
    return id;
}

fcitx::InputContext* TellwireAddon::contextOf(const std::string& id)
{
    fcitx::ICUUID uuid{};
    if (id.size() != uuid.size() * 2)
        return nullptr;
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        const std::string byte = id.substr(i * 2, 2);
        if (byte.find_first_not_of("0123456789abcdef") != std::string::npos)
            return nullptr;
        uuid[i] = std::uint8_t(std::stoi(byte, nullptr, 16));
    }
    return instance_->inputContextManager().findByUUID(uuid);
}

bool TellwireAddon::isOurs(fcitx::InputContext* ic)
{
    return instance_->inputMethod(ic) == kInputMethod;
}

bool TellwireAddon::secret(const fcitx::InputContext& ic)
{
    return ic.capabilityFlags().testAny(
        fcitx::CapabilityFlags{fcitx::CapabilityFlag::Password, fcitx::CapabilityFlag::Sensitive});
}

template <typename... Arguments>
std::optional<Answer> TellwireAddon::call(fcitx::InputContext& ic, const char* method, const Arguments&... arguments)
{
    const std::string id = idOf(ic);
    if (outOfSync_.count(id)) {
        // What the context showed was cleared when an answer came too late:
        // Tellwire commits what it held and starts the field afresh.
        std::optional<Answer> resynced = link_.call("Reset", id);
        if (!resynced)
            return std::nullopt;
        outOfSync_.erase(id);
        apply(ic, *resynced);
    }
    std::optional<Answer> answer = link_.call(method, id, arguments...);
    if (answer) {
        apply(ic, *answer);
    } else if (link_.present()) {
        outOfSync_.insert(id);
        ic.inputPanel().reset();
        ic.updatePreedit();
        ic.updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
    }
    return answer;
}

void TellwireAddon::apply(fcitx::InputContext& ic, const Answer& answer)
{
    if (!answer.commit.empty()) {
        // Some clients type a preedit still shown at a commit a second time.
        showPreedit(ic, {}, 0, false);
        ic.commitString(answer.commit);
    }
    if (answer.preeditChanged)
        showPreedit(ic, answer.preedit, answer.caret, answer.composing);
    if (answer.panel == protocol::kPanelShow) {
        auto list = std::make_unique<fcitx::CommonCandidateList>();
        list->setPageSize(protocol::kPageSize);
        list->setLayoutHint(fcitx::CandidateLayoutHint::Horizontal);
        list->setSelectionKey(fcitx::Key::keyListFromString("1 2 3 4 5 6 7 8 9"));
        for (std::size_t i = 0; i < answer.candidates.size(); ++i)
            list->append<Candidate>(*this, answer.candidates[i], int(i));
        if (!answer.candidates.empty())
            list->setGlobalCursorIndex(0);
        ic.inputPanel().setCandidateList(std::move(list));
    } else if (answer.panel == protocol::kPanelHide) {
        ic.inputPanel().setCandidateList(nullptr);
    }
    ic.updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
    if (answer.chinese != chinese_) {
        chinese_ = answer.chinese;
        ic.updateUserInterface(fcitx::UserInterfaceComponent::StatusArea);
    }
}

void TellwireAddon::showPreedit(fcitx::InputContext& ic, const std::string& text, int caret, bool composing)
{
    fcitx::Text preedit;
    if (!text.empty()) {
        // Interim voice text must not be typed where the focus leaves it.
        preedit.append(text, composing ? fcitx::TextFormatFlags{fcitx::TextFormatFlag::Underline}
                                       : fcitx::TextFormatFlags{fcitx::TextFormatFlag::Underline,
                                                                fcitx::TextFormatFlag::DontCommit});
        preedit.setCursor(caret);
    }
    // Clients that draw no preedit of their own get it in fcitx5's panel.
    if (ic.capabilityFlags().test(fcitx::CapabilityFlag::Preedit))
        ic.inputPanel().setClientPreedit(preedit);
    else
        ic.inputPanel().setPreedit(preedit);
    ic.updatePreedit();
}

void TellwireAddon::focusIn(fcitx::InputContext& ic)
{
    focused_ = ic.watch();
    focusedSecret_ = secret(ic);
    caretKnown_ = false;
    link_.launch();
    call(ic, "FocusIn", focusedSecret_);
}

void TellwireAddon::tellwireAppeared()
{
    // A Tellwire started (or restarted) after the focus came learns where it is.
    fcitx::InputContext* ic = focused_.get();
    outOfSync_.clear();
    if (ic && ic->hasFocus() && isOurs(ic))
        call(*ic, "FocusIn", focusedSecret_);
}

void TellwireAddon::open(const char* method)
{
    // An absent Tellwire is started; the user asks again once it is there.
    link_.launch();
    link_.tell(method);
}

void TellwireAddon::keyEvent(const fcitx::InputMethodEntry&, fcitx::KeyEvent& event)
{
    // Tellwire decides on key presses only; releases and absent Tellwire pass.
    fcitx::InputContext* ic = event.inputContext();
    if (event.isRelease() || !ic || !link_.present())
        return;
    if (ic != focused_.get())
        focusIn(*ic);
    const fcitx::Key& key = event.rawKey();
    const std::optional<Answer> answer =
        call(*ic, "ProcessKey", std::uint32_t(key.sym()), std::uint32_t(key.states().toInteger()), sentNow());
    if (answer && answer->handled)
        event.filterAndAccept();
}

void TellwireAddon::activate(const fcitx::InputMethodEntry&, fcitx::InputContextEvent& event)
{
    fcitx::InputContext* ic = event.inputContext();
    if (!ic)
        return;
    // fcitx5 empties this group before each activation.
    ic->statusArea().addAction(fcitx::StatusGroup::InputMethod, &showPanel_);
    ic->statusArea().addAction(fcitx::StatusGroup::InputMethod, &showSettings_);
    focusIn(*ic);
}

void TellwireAddon::deactivate(const fcitx::InputMethodEntry&, fcitx::InputContextEvent& event)
{
    fcitx::InputContext* ic = event.inputContext();
    if (!ic)
        return;
    if (ic == focused_.get())
        focused_.unwatch();
    // Tellwire commits the open composition and takes voice text off; without
    // it nothing of ours may stay on screen.
    if (!call(*ic, "FocusOut")) {
        ic->inputPanel().reset();
        ic->updatePreedit();
        ic->updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
    }
}

void TellwireAddon::reset(const fcitx::InputMethodEntry&, fcitx::InputContextEvent& event)
{
    fcitx::InputContext* ic = event.inputContext();
    if (ic && ic == focused_.get())
        call(*ic, "Reset");
}

std::string TellwireAddon::subMode(const fcitx::InputMethodEntry&, fcitx::InputContext&)
{
    return chinese_ ? "中文" : "英文";
}

std::string TellwireAddon::subModeLabelImpl(const fcitx::InputMethodEntry&, fcitx::InputContext&)
{
    return chinese_ ? "中" : "英";
}

void TellwireAddon::select(fcitx::InputContext& ic, int index)
{
    call(ic, "SelectCandidate", std::uint32_t(index));
}

fcitx::AddonInstance* TellwireAddonFactory::create(fcitx::AddonManager* manager)
{
    return new TellwireAddon(manager->instance());
}

} // namespace tellwire

FCITX_ADDON_FACTORY(tellwire::TellwireAddonFactory);
