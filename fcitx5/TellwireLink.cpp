#include "TellwireLink.h"

#include "TellwireProtocol.h"

#include <fcitx-utils/dbus/matchrule.h>
#include <fcitx-utils/log.h>
#include <fcitx-utils/misc.h>

#include <cstdlib>
#include <stdexcept>

namespace tellwire {

namespace {

// Installed beside the addon's package; a build tree names its own.
std::string tellwireExecutable()
{
    const char* chosen = std::getenv("TELLWIRE_EXECUTABLE");
    return chosen && *chosen ? chosen : TELLWIRE_INSTALLED_EXECUTABLE;
}

// The answer's fields, after the context id for a signal; false when they are not what was agreed.
bool read(fcitx::dbus::Message& message, Answer& answer)
{
    message >> answer.handled >> answer.commit >> answer.preeditChanged >> answer.preedit >> answer.caret
        >> answer.composing >> answer.panel >> answer.candidates >> answer.chinese;
    return bool(message);
}

} // namespace

TellwireLink::TellwireLink(fcitx::EventLoop& loop, std::function<void(const std::string& id, const Answer&)> output,
                           std::function<void()> appeared)
{
    try {
        bus_ = std::make_unique<fcitx::dbus::Bus>(fcitx::dbus::BusType::Session);
    } catch (const std::exception& error) {
        FCITX_ERROR() << "Tellwire: no session bus: " << error.what();
        return;
    }
    bus_->attachEventLoop(&loop);
    watcher_ = std::make_unique<fcitx::dbus::ServiceWatcher>(*bus_);
    watch_ = watcher_->watchService(protocol::kService, [this](const std::string&, const std::string&,
                                                             const std::string& owner) { present_ = !owner.empty(); });
    // Matched on path and name alone: a name just taken may not be known to
    // the bus's cache of owners yet.
    readyMatch_ = bus_->addMatch(fcitx::dbus::MatchRule("", protocol::kPath, protocol::kInterface, protocol::kReadySignal),
                                 [this, appeared = std::move(appeared)](fcitx::dbus::Message&) {
                                     present_ = true;
                                     appeared();
                                     return true;
                                 });
    outputMatch_ = bus_->addMatch(
        fcitx::dbus::MatchRule("", protocol::kPath, protocol::kInterface, protocol::kOutputSignal),
        [output = std::move(output)](fcitx::dbus::Message& message) {
            std::string id;
            Answer answer;
            if (message.signature() == std::string("s") + protocol::kReplySignature && (message >> id)
                && read(message, answer))
                output(id, answer);
            return true;
        });
}

TellwireLink::~TellwireLink()
{
    readyMatch_.reset();
    outputMatch_.reset();
    watch_.reset();
    watcher_.reset();
    if (bus_)
        bus_->detachEventLoop();
}

fcitx::dbus::Message TellwireLink::request(const char* method)
{
    fcitx::dbus::Message message = bus_->createMethodCall(protocol::kService, protocol::kPath, protocol::kInterface, method);
    return message;
}

std::optional<Answer> TellwireLink::finish(fcitx::dbus::Message& message)
{
    fcitx::dbus::Message reply =
        message.call(std::chrono::duration_cast<std::chrono::microseconds>(kBound).count());
    Answer answer;
    if (reply.isError() || reply.signature() != protocol::kReplySignature || !read(reply, answer))
        return std::nullopt;
    return answer;
}

void TellwireLink::launch()
{
    const auto now = std::chrono::steady_clock::now();
    if (present_ || !bus_ || (launched_ && now - *launched_ < std::chrono::seconds(10)))
        return;
    launched_ = now;
    // Tellwire keeps one instance per session itself: a second start just ends.
    fcitx::startProcess({tellwireExecutable()});
}

} // namespace tellwire
