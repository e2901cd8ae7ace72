#pragma once

// An HTTP server on 127.0.0.1 for the relay client's component tests. It runs
// on its own threads inside the test process; replies are scripted per path.

#include <httplib.h>

#include <QString>

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

    std::string header(const std::string& name) const
    {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

class TestServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    TestServer()
    {
        // One request per connection, so that stopping never waits on idle keep-alives.
        server_.set_keep_alive_max_count(1);
        const Handler dispatch = [this](const httplib::Request& request, httplib::Response& response) {
            handle(request, response);
        };
        server_.Get(".*", dispatch);
        server_.Post(".*", dispatch);
        port_ = server_.bind_to_any_port("127.0.0.1");
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

    // A handler that keeps the request open until the server stops.
    Handler hold()
    {
        return [this](const httplib::Request&, httplib::Response& response) {
            std::unique_lock lock(mutex_);
            released_.wait(lock, [&] { return stopping_; });
            response.status = 503;
        };
    }

    static Handler reply(int status, std::string body, std::string type = "application/json")
    {
        return [=](const httplib::Request&, httplib::Response& response) {
            response.status = status;
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
            auto& queue = scripts_[request.path];
            if (!queue.empty()) {
                handler = queue.front();
                if (queue.size() > 1)
                    queue.pop_front();
            }
        }
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
    std::map<std::string, std::deque<Handler>> scripts_;
    std::vector<RecordedRequest> requests_;
};

} // namespace tellwire::testing
