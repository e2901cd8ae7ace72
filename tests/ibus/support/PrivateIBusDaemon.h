#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tellwire::testing {

// An ibus-daemon of the test's own, headless, reading component files only
// from a folder the test fills. The daemon, this process and anything it
// starts find each other through the same private HOME and XDG folders, which
// the constructor sets in this process's environment.
class PrivateIBusDaemon {
public:
    // components: files linked into the daemon's component folder.
    // environment: extra variables for the daemon and the engines it starts.
    // config: the daemon's --config value; engines that keep settings (as
    // ibus-libpinyin does) need a config component among the components.
    explicit PrivateIBusDaemon(std::vector<std::filesystem::path> components,
                               std::vector<std::pair<std::string, std::string>> environment = {},
                               std::string config = "disable");
    ~PrivateIBusDaemon();

    PrivateIBusDaemon(const PrivateIBusDaemon&) = delete;
    PrivateIBusDaemon& operator=(const PrivateIBusDaemon&) = delete;

    // Starts the daemon and waits until it lists its engines; false (with
    // the reason in error()) if it does not within the deadline.
    bool start();
    void stop();
    bool running() const { return pid_ > 0; }

    // The daemon's D-Bus address, once started.
    std::string address() const;
    const std::string& error() const { return error_; }
    const std::filesystem::path& root() const { return root_; }

    // The component file Tellwire's build writes for the build tree.
    static std::filesystem::path tellwireComponent();

private:
    bool listsEngines() const;

    std::filesystem::path root_;
    std::filesystem::path componentFolder_;
    std::vector<std::pair<std::string, std::string>> environment_;
    std::string config_;
    int pid_ = 0;
    std::string error_;
};

} // namespace tellwire::testing
