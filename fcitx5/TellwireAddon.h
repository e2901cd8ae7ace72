#pragma once

#include "TellwireLink.h"

#include <fcitx/action.h>
#include <fcitx/addonfactory.h>
#include <fcitx/addonmanager.h>
#include <fcitx/inputcontext.h>
#include <fcitx/inputmethodengine.h>
#include <fcitx/instance.h>

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace tellwire {

// The input method "Tellwire 语音输入" inside fcitx5: a thin host that hands
// each input context's focus, resets, password state, caret moves and keys to
// the Tellwire process and shows what it answers. Without Tellwire, keys pass.
class TellwireAddon final : public fcitx::InputMethodEngineV2 {
public:
    static constexpr const char* kInputMethod = "tellwire";

    explicit TellwireAddon(fcitx::Instance* instance);
    ~TellwireAddon() override;

    void keyEvent(const fcitx::InputMethodEntry& entry, fcitx::KeyEvent& event) override;
    void activate(const fcitx::InputMethodEntry& entry, fcitx::InputContextEvent& event) override;
    void deactivate(const fcitx::InputMethodEntry& entry, fcitx::InputContextEvent& event) override;
    void reset(const fcitx::InputMethodEntry& entry, fcitx::InputContextEvent& event) override;
    std::string subMode(const fcitx::InputMethodEntry& entry, fcitx::InputContext& ic) override;
    std::string subModeLabelImpl(const fcitx::InputMethodEntry& entry, fcitx::InputContext& ic) override;

    // A candidate picked with the mouse in fcitx5's panel.
    void select(fcitx::InputContext& ic, int index);

private:
    static std::string idOf(const fcitx::InputContext& ic);
    fcitx::InputContext* contextOf(const std::string& id);
    bool isOurs(fcitx::InputContext* ic);
    static bool secret(const fcitx::InputContext& ic);
    // Calls Tellwire for ic and shows its answer; first resynchronises a
    // context whose last answer came too late.
    template <typename... Arguments>
    std::optional<Answer> call(fcitx::InputContext& ic, const char* method, const Arguments&... arguments);
    void apply(fcitx::InputContext& ic, const Answer& answer);
    void showPreedit(fcitx::InputContext& ic, const std::string& text, int caret, bool composing);
    void focusIn(fcitx::InputContext& ic);
    void tellwireAppeared();
    // Asks Tellwire to open a window of its own.
    void open(const char* method);

    fcitx::Instance* instance_;
    TellwireLink link_;
    fcitx::TrackableObjectReference<fcitx::InputContext> focused_;
    bool focusedSecret_ = false;
    bool caretKnown_ = false;
    fcitx::Rect caret_;
    std::unordered_set<std::string> outOfSync_;
    bool chinese_ = true;
    // fcitx5's menu (its tray item, its panel) opens Tellwire's windows, as Tellwire's tray does.
    fcitx::SimpleAction showPanel_;
    fcitx::SimpleAction showSettings_;
    std::vector<std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>>> watchers_;
};

class TellwireAddonFactory final : public fcitx::AddonFactory {
public:
    fcitx::AddonInstance* create(fcitx::AddonManager* manager) override;
};

} // namespace tellwire
