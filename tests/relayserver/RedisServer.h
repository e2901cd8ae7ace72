#pragma once

#include "RedisAddress.h"
#include "support/Wait.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tellwire::testing {

// A free port on 127.0.0.1 for a server this test starts.
inline int freeLoopbackPort()
{
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(sock, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(sock, reinterpret_cast<sockaddr*>(&address), &size);
    close(sock);
    return ntohs(address.sin_port);
}

// A private redis-server on loopback that writes every change to its
// append-only file, so that it comes back from stop() and start() with it all.
class RedisServer {
public:
    RedisServer() { EXPECT_TRUE(start()); }
    ~RedisServer() { stop(); }

    bool start()
    {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start("redis-server", {"--port", QString::number(port_), "--bind", "127.0.0.1", "--dir", dir_.path(),
                                        "--appendonly", "yes", "--appendfsync", "always", "--save", "",
                                        "--logfile", ""});
        QString log;
        return waitUntil([&] {
            log += QString::fromUtf8(process_.readAllStandardOutput());
            return log.contains("Ready to accept connections") || process_.state() == QProcess::NotRunning;
        }) && process_.state() == QProcess::Running;
    }
    void stop()
    {
        process_.terminate();
        process_.waitForFinished();
    }
    // Hangs it (it takes connections and answers nothing), and lets it go on.
    void pause() { ::kill(pid_t(process_.processId()), SIGSTOP); }
    void resume() { ::kill(pid_t(process_.processId()), SIGCONT); }
    RedisAddress address() const { return {"127.0.0.1", port_, 0}; }
    std::string url() const { return "redis://127.0.0.1:" + std::to_string(port_); }

private:
    QTemporaryDir dir_;
    int port_ = freeLoopbackPort();
    QProcess process_;
};

} // namespace tellwire::testing
