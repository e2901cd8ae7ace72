#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tellwire::test {

// A program run by a test, with pipes on its standard input, output and error.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();

    // The next line of standard output, or nothing at end of output or timeout.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // Everything written to standard error once the program has ended.
    std::string errorOutput();
    void write(const std::string& text);
    void closeInput();
    void signal(int number);
    // The exit code (128 + signal when killed), or nothing on timeout.
    std::optional<int> wait(std::chrono::milliseconds timeout);

private:
    bool fill(int fd, std::string& buffer, std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outBuffer_;
    std::string errBuffer_;
    std::optional<int> status_;
};

} // namespace tellwire::test
