#include "ibus/ContextRegistry.h"

#include <algorithm>

namespace tellwire {

ContextRegistry::ContextRegistry(Factory make)
    : make_(std::move(make))
{
}

ContextRegistry::~ContextRegistry() = default;

InputContextSession& ContextRegistry::focus(const QString& path)
{
    auto found = std::find_if(sessions_.begin(), sessions_.end(),
                              [&](const auto& session) { return session->path() == path; });
    std::unique_ptr<InputContextSession> session;
    if (found != sessions_.end()) {
        session = std::move(*found);
        sessions_.erase(found);
    } else {
        session = make_(path);
    }
    sessions_.push_back(std::move(session));
    if (sessions_.size() > kLimit) // the least recently focused goes
        sessions_.erase(sessions_.begin());
    return *sessions_.back();
}

InputContextSession* ContextRegistry::find(const QString& path) const
{
    for (const auto& session : sessions_) {
        if (session->path() == path)
            return session.get();
    }
    return nullptr;
}

void ContextRegistry::clear()
{
    sessions_.clear();
}

} // namespace tellwire
