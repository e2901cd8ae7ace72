#include "PrivateIBusDaemon.h"

#include "Wait.h"

#include <ibus.h>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace tellwire::testing {

namespace {

std::filesystem::path makeScratchFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tellwire-ibus.XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return {};
    return pattern;
}

} // namespace

std::filesystem::path PrivateIBusDaemon::tellwireComponent()
{
    return TELLWIRE_COMPONENT_FILE;
}

PrivateIBusDaemon::PrivateIBusDaemon(std::vector<std::filesystem::path> components,
                                     std::vector<std::pair<std::string, std::string>> environment,
                                     std::string config)
    : root_(makeScratchFolder())
    , componentFolder_(root_ / "component")
    , environment_(std::move(environment))
    , config_("--config=" + config)
{
    std::filesystem::create_directories(componentFolder_);
    for (const auto& component : components)
        std::filesystem::create_symlink(component, componentFolder_ / component.filename());
    for (const char* folder : {"home", "config", "data", "cache", "runtime"})
        std::filesystem::create_directories(root_ / folder);
    std::filesystem::permissions(root_ / "runtime", std::filesystem::perms::owner_all);
    // Everyone that looks for the daemon's address file must look in the same place.
    setenv("HOME", (root_ / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root_ / "cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("IBUS_ADDRESS");
}

PrivateIBusDaemon::~PrivateIBusDaemon()
{
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

bool PrivateIBusDaemon::start()
{
    if (pid_ > 0)
        return true;
    const pid_t pid = fork();
    if (pid < 0) {
        error_ = "fork failed";
        return false;
    }
    if (pid == 0) {
        setenv("IBUS_COMPONENT_PATH", componentFolder_.c_str(), 1);
        for (const auto& [name, value] : environment_)
            setenv(name.c_str(), value.c_str(), 1);
        execlp("ibus-daemon", "ibus-daemon", "--panel=disable", "--emoji-extension=disable", config_.c_str(),
               "--cache=refresh", "--verbose", static_cast<char*>(nullptr));
        _exit(127);
    }
    pid_ = pid;
    // Ready once it answers for its engines; `ibus address` answers earlier.
    const bool ready = waitUntil([this] {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = 0;
            return true;
        }
        return listsEngines();
    }, std::chrono::seconds(20), std::chrono::milliseconds(50));
    if (pid_ == 0) {
        error_ = "ibus-daemon exited at start";
        return false;
    }
    if (!ready) {
        error_ = "ibus-daemon did not list its engines within 20 s";
        stop();
        return false;
    }
    return true;
}

bool PrivateIBusDaemon::listsEngines() const
{
    gint status = -1;
    const gchar* argv[] = {"ibus", "list-engine", nullptr};
    if (!g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr,
                      GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                      nullptr, nullptr, nullptr, nullptr, &status, nullptr))
        return false;
    return g_spawn_check_wait_status(status, nullptr);
}

void PrivateIBusDaemon::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
}

std::string PrivateIBusDaemon::address() const
{
    const gchar* address = ibus_get_address();
    return address ? address : std::string();
}

} // namespace tellwire::testing
