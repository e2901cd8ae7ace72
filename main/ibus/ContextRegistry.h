#pragma once

#include "ibus/InputContextSession.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace tellwire {

// The sessions of the client input contexts seen so far, keyed by context
// path. Contexts are never announced as gone, so only the most recently
// focused are kept.
class ContextRegistry {
public:
    static constexpr std::size_t kLimit = 64;

    using Factory = std::function<std::unique_ptr<InputContextSession>(const QString& path)>;
    explicit ContextRegistry(Factory make);
    ~ContextRegistry();

    // The context's session, made if new, now the most recently focused; the
    // least recently focused beyond the limit is dropped.
    InputContextSession& focus(const QString& path);
    InputContextSession* find(const QString& path) const;
    std::size_t size() const { return sessions_.size(); }
    void clear();

    template <typename F>
    void forEach(F&& visit) const
    {
        for (const auto& session : sessions_)
            visit(*session);
    }

private:
    Factory make_;
    std::vector<std::unique_ptr<InputContextSession>> sessions_; // least recently focused first
};

} // namespace tellwire
