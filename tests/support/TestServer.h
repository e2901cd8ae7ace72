#pragma once

// An HTTP server on 127.0.0.1 for the relay client's component tests. It runs
// on its own threads inside the test process; replies are scripted per path.

#include <glib.h>
#include <httplib.h>

#include <QString>
#include <QTcpServer>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tellwire::testing {

struct RecordedRequest {
    std::string method;
    std::string target; // path and query
    std::string body;
    httplib::Headers headers;

    bool hasHeader(const std::string& name) const { return headers.count(name) != 0; }
    std::string header(const std::string& name) const
    {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

// A loopback port nobody listens on: a relay that is down.
inline int unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

class TestServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    // port 0 picks a free one.
    explicit TestServer(int port = 0)
    {
        // One request per connection, so that stopping never waits on idle keep-alives.
        server_.set_keep_alive_max_count(1);
        const Handler dispatch = [this](const httplib::Request& request, httplib::Response& response) {
            handle(request, response);
        };
        server_.Get(".*", dispatch);
        server_.Post(".*", dispatch);
        port_ = port == 0 ? server_.bind_to_any_port("127.0.0.1") : server_.bind_to_port("127.0.0.1", port) ? port : 0;
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::yield();
    }
    ~TestServer()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        released_.notify_all();
        server_.stop();
        thread_.join();
    }

    int port() const { return port_; }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }

    // Replies to path (without query) with handler, once per request, in order;
    // when a path's queue is empty, its last handler stays in force.
    void on(const std::string& path, Handler handler)
    {
        std::lock_guard lock(mutex_);
        scripts_[path].push_back(std::move(handler));
    }

    std::vector<RecordedRequest> requests() const
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    size_t requestCount() const { return requests().size(); }

    // A handler that keeps the request open until the server stops or a
    // release() made after the request was recorded, then answers with status and body.
    Handler hold(int status = 200, std::string body = R"({"events":[],"cursor":0})")
    {
        return [this, status, body](const httplib::Request&, httplib::Response& response) {
            std::unique_lock lock(mutex_);
            const int generation = recordedGeneration_;
            released_.wait(lock, [&] { return stopping_ || generation_ != generation; });
            response.status = status;
            response.set_content(body, "application/json");
        };
    }
    void release()
    {
        {
            std::lock_guard lock(mutex_);
            ++generation_;
        }
        released_.notify_all();
    }

    static Handler reply(int status, std::string body, std::string type = "application/json")
    {
        return [=](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            if (status != 204)
                response.set_content(body, type);
        };
    }

private:
    void handle(const httplib::Request& request, httplib::Response& response)
    {
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            std::string target = request.path;
            for (const auto& [key, value] : request.params)
                target += (target.size() == request.path.size() ? '?' : '&') + key + '=' + value;
            requests_.push_back({request.method, target, request.body, request.headers});
            recordedGeneration_ = generation_;
            auto& queue = scripts_[request.path];
            if (!queue.empty()) {
                handler = queue.front();
                if (queue.size() > 1)
                    queue.pop_front();
            }
        }
        // A test waiting on requests() sleeps in the main loop: wake it to look.
        g_main_context_wakeup(nullptr);
        if (handler)
            handler(request, response);
        else
            response.status = 404;
    }

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool stopping_ = false;
    int generation_ = 0;
    // generation_ when this thread's request was recorded, for hold().
    static inline thread_local int recordedGeneration_ = 0;
    std::map<std::string, std::deque<Handler>> scripts_;
    std::vector<RecordedRequest> requests_;
};

} // namespace tellwire::testing
