#pragma once

#include "TellwireProtocol.h"

#include <fcitx-utils/dbus/bus.h>
#include <fcitx-utils/dbus/servicewatcher.h>
#include <fcitx-utils/event.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tellwire {

// What Tellwire answers for one input context (see TellwireProtocol.h).
struct Answer {
    bool handled = false;
    std::string commit;
    bool preeditChanged = false;
    std::string preedit;
    int caret = 0;
    bool composing = false;
    int panel = 0;
    std::vector<std::string> candidates;
    bool chinese = true;
};

// The addon's line to the Tellwire process on the session bus. Calls wait a
// short, fixed time; a Tellwire that is absent is never waited for.
class TellwireLink {
public:
    // How long fcitx5 may wait for one answer; past it the key goes on.
    static constexpr std::chrono::milliseconds kBound{protocol::kAnswerBoundMs};

    // output: what Tellwire pushes between calls, for the context id;
    // appeared: Tellwire has (re)started and serves the addon.
    TellwireLink(fcitx::EventLoop& loop, std::function<void(const std::string& id, const Answer&)> output,
                 std::function<void()> appeared);
    ~TellwireLink();

    bool present() const { return present_; }
    // Calls method(id, arguments...); nothing when Tellwire is absent, slow or wrong.
    template <typename... Arguments>
    std::optional<Answer> call(const char* method, const std::string& id, const Arguments&... arguments)
    {
        if (!present_ || !bus_)
            return std::nullopt;
        fcitx::dbus::Message message = request(method);
        message << id;
        ((message << arguments), ...);
        return finish(message);
    }
    // Tells Tellwire something that needs no answer.
    template <typename... Arguments>
    void tell(const char* method, const Arguments&... arguments)
    {
        if (!present_ || !bus_)
            return;
        fcitx::dbus::Message message = request(method);
        ((message << arguments), ...);
        message.send();
    }
    // Starts Tellwire unless it runs or was started moments ago.
    void launch();

private:
    fcitx::dbus::Message request(const char* method);
    std::optional<Answer> finish(fcitx::dbus::Message& message);

    std::unique_ptr<fcitx::dbus::Bus> bus_;
    std::unique_ptr<fcitx::dbus::ServiceWatcher> watcher_;
    std::unique_ptr<fcitx::HandlerTableEntry<fcitx::dbus::ServiceWatcherCallback>> watch_;
    std::unique_ptr<fcitx::dbus::Slot> outputMatch_;
    std::unique_ptr<fcitx::dbus::Slot> readyMatch_;
    bool present_ = false;
    std::optional<std::chrono::steady_clock::time_point> launched_;
};

} // namespace tellwire
