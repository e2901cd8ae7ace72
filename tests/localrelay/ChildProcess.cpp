#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
extern "C" {
#include <sys/pidfd.h> // glibc 2.36 declares it without C linkage
}
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace tellwire::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv)
{
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int failed = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    if (failed != 0)
        throw std::runtime_error("cannot start " + argv.front());
}

ChildProcess::~ChildProcess()
{
    if (!status_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_})
        if (fd >= 0)
            ::close(fd);
}

bool ChildProcess::fill(int fd, std::string& buffer, std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::max<long>(left.count(), 0)));
    if (ready <= 0)
        return false;
    char chunk[4096];
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got <= 0)
        return false;
    buffer.append(chunk, static_cast<std::size_t>(got));
    return true;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const auto end = outBuffer_.find('\n'); end != std::string::npos) {
            std::string line = outBuffer_.substr(0, end);
            outBuffer_.erase(0, end + 1);
            return line;
        }
        if (!fill(out_, outBuffer_, deadline))
            return std::nullopt;
    }
}

std::string ChildProcess::errorOutput()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (fill(err_, errBuffer_, deadline)) {
    }
    return errBuffer_;
}

void ChildProcess::write(const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(in_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error("cannot write to the child");
        done += static_cast<std::size_t>(n);
    }
}

void ChildProcess::closeInput()
{
    ::close(in_);
    in_ = -1;
}

void ChildProcess::signal(int number)
{
    ::kill(pid_, number);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout)
{
    if (status_)
        return status_;
    // A pidfd becomes readable when the child ends, so the wait needs no polling loop.
    const int pidfd = pidfd_open(pid_, 0);
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(timeout.count()));
        ::close(pidfd);
    }
    int raw = 0;
    if (waitpid(pid_, &raw, pidfd >= 0 ? WNOHANG : 0) != pid_)
        return std::nullopt;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return status_;
}

} // namespace tellwire::test
