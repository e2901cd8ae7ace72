#include "RedisAsyncConnection.h"

#include "RelayStore.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <hiredis/async.h>
#include <hiredis/hiredis.h>

#include <map>
#include <memory>
#include <string_view>

namespace tellwire {

namespace asio = boost::asio;

namespace {

// After a failure commands fail at once for this long, instead of each
// waiting out a Redis that is down or hanging.
constexpr std::chrono::milliseconds retryPause{200};

// The connections of one io_context, ended with it.
class Connections : public asio::execution_context::service {
public:
    using key_type = Connections;
    static inline asio::execution_context::id id;

    explicit Connections(asio::execution_context& context)
        : service(context)
    {
    }
    void shutdown() override { byAddress.clear(); }

    std::map<std::string, std::unique_ptr<RedisAsyncConnection>> byAddress;
};

} // namespace

// One command in flight: its timer's wait ends when the answer comes, or at the deadline.
struct RedisAsyncConnection::Pending {
    explicit Pending(const asio::any_io_executor& executor)
        : timer(executor)
    {
    }
    asio::steady_timer timer;
    bool done = false;
    RedisReply reply; // none when the connection ended first
    std::string error;
};

RedisAsyncConnection& RedisAsyncConnection::of(const asio::any_io_executor& executor, const RedisAddress& address,
                                               std::chrono::milliseconds timeout)
{
    auto& connections = asio::use_service<Connections>(asio::query(executor, asio::execution::context));
    auto& connection = connections.byAddress[address.host + ":" + std::to_string(address.port)
                                                                    + "/" + std::to_string(address.database)];
    if (!connection)
        connection = std::make_unique<RedisAsyncConnection>(executor, address, timeout);
    return *connection;
}

RedisAsyncConnection::RedisAsyncConnection(asio::any_io_executor executor, RedisAddress address,
                                           std::chrono::milliseconds timeout)
    : executor_(std::move(executor))
    , address_(std::move(address))
    , timeout_(timeout)
    , socket_(executor_)
{
}

RedisAsyncConnection::~RedisAsyncConnection()
{
    if (context_)
        redisAsyncFree(context_);
}

std::string RedisAsyncConnection::where() const
{
    return "redis " + address_.host + ":" + std::to_string(address_.port);
}

void RedisAsyncConnection::fail(const std::string& why)
{
    if (context_)
        redisAsyncFree(context_); // every command in flight is answered with no reply
    retryAt_ = std::chrono::steady_clock::now() + retryPause;
    throw StoreUnavailable(where() + ": " + why);
}

void RedisAsyncConnection::connect()
{
    if (std::chrono::steady_clock::now() < retryAt_)
        throw StoreUnavailable(where() + ": down a moment ago");
    redisAsyncContext* context = redisAsyncConnect(address_.host.c_str(), address_.port);
    if (!context || context->err) {
        const std::string why = context ? context->errstr : "out of memory";
        if (context)
            redisAsyncFree(context);
        fail(why);
    }
    boost::system::error_code error;
    socket_.assign(context->c.fd, error);
    if (error) {
        redisAsyncFree(context);
        fail(error.message());
    }
    context_ = context;
    ++generation_;
    context->ev.data = this;
    context->ev.addRead = [](void* self) { static_cast<RedisAsyncConnection*>(self)->watch(true); };
    context->ev.delRead = [](void* self) { static_cast<RedisAsyncConnection*>(self)->wantsRead_ = false; };
    context->ev.addWrite = [](void* self) { static_cast<RedisAsyncConnection*>(self)->watch(false); };
    context->ev.delWrite = [](void* self) { static_cast<RedisAsyncConnection*>(self)->wantsWrite_ = false; };
    context->ev.cleanup = [](void* self) { static_cast<RedisAsyncConnection*>(self)->ended(); };
    if (address_.database != 0)
        redisAsyncCommand(context, nullptr, nullptr, "SELECT %d", address_.database);
}

// hiredis frees the context after this, whether it failed or was freed on purpose.
void RedisAsyncConnection::ended()
{
    socket_.release(); // hiredis closes it; the waits end as cancelled
    context_ = nullptr;
    ++generation_;
    wantsRead_ = wantsWrite_ = waitsRead_ = waitsWrite_ = false;
    inFlight_ = 0;
    retryAt_ = std::chrono::steady_clock::now() + retryPause;
}

void RedisAsyncConnection::watch(bool read)
{
    (read ? wantsRead_ : wantsWrite_) = true;
    bool& waits = read ? waitsRead_ : waitsWrite_;
    if (waits || (read && inFlight_ == 0))
        return;
    waits = true;
    socket_.async_wait(read ? asio::posix::descriptor_base::wait_read : asio::posix::descriptor_base::wait_write,
                       [this, read, generation = generation_](boost::system::error_code error) {
                           if (generation != generation_)
                               return;
                           (read ? waitsRead_ : waitsWrite_) = false;
                           if (!error && (read ? wantsRead_ : wantsWrite_)) {
                               if (read)
                                   redisAsyncHandleRead(context_);
                               else
                                   redisAsyncHandleWrite(context_);
                               if (generation != generation_)
                                   return;
                           }
                           if (read ? wantsRead_ : wantsWrite_)
                               watch(read);
                       });
}

void RedisAsyncConnection::answered(redisAsyncContext* context, void* reply, void* pending)
{
    const std::unique_ptr<std::shared_ptr<Pending>> holder(static_cast<std::shared_ptr<Pending>*>(pending));
    auto* connection = static_cast<RedisAsyncConnection*>(context->ev.data);
    boost::system::error_code ignored;
    if (--connection->inFlight_ == 0 && connection->waitsRead_)
        connection->socket_.cancel(ignored); // nothing more to read
    // Called from hiredis's C: nothing may be thrown through it.
    Pending& command = **holder;
    command.done = true;
    try {
        if (reply)
            command.reply = copyOfReply(*static_cast<redisReply*>(reply));
        else
            command.error = context->err ? context->errstr : "the connection ended";
    } catch (const std::bad_alloc&) {
        command.error = "out of memory";
    }
    command.timer.cancel();
}

asio::awaitable<RedisReply> RedisAsyncConnection::command(std::vector<std::string> arguments)
{
    if (!context_)
        connect();
    RedisArgv argv(arguments);
    const auto pending = std::make_shared<Pending>(executor_);
    pending->timer.expires_after(timeout_);
    auto* holder = new std::shared_ptr<Pending>(pending);
    if (redisAsyncCommandArgv(context_, answered, holder, argv.count(), argv.pointers.data(), argv.lengths.data())
        != REDIS_OK) {
        delete holder;
        fail("cannot send a command");
    }
    if (++inFlight_ == 1 && wantsRead_)
        watch(true);
    co_await pending->timer.async_wait(asio::as_tuple(asio::use_awaitable));
    if (!pending->done)
        fail("no answer within " + std::to_string(timeout_.count()) + " ms");
    if (!pending->reply)
        throw StoreUnavailable(where() + ": " + pending->error);
    if (pending->reply->type == REDIS_REPLY_ERROR) {
        const std::string error(pending->reply->str, pending->reply->len);
        if (isPassingError(error))
            fail(error);
        throw std::runtime_error("redis: " + error);
    }
    co_return std::move(pending->reply);
}

asio::awaitable<RedisReply> RedisAsyncConnection::script(const char* source, std::vector<std::string> keys,
                                                         std::vector<std::string> arguments)
{
    std::string& hash = scriptHashes_[source];
    if (hash.empty())
        hash = sha1Hex(source);
    std::vector<std::string> call{"EVALSHA", hash, std::to_string(keys.size())};
    call.insert(call.end(), keys.begin(), keys.end());
    call.insert(call.end(), arguments.begin(), arguments.end());
    try {
        co_return co_await command(call);
    } catch (const std::runtime_error& error) {
        // Not known yet, or forgotten by a restart: sent whole, Redis keeps it.
        if (std::string_view(error.what()).find("NOSCRIPT") == std::string_view::npos)
            throw;
    }
    call[0] = "EVAL";
    call[1] = source;
    co_return co_await command(std::move(call));
}

} // namespace tellwire
