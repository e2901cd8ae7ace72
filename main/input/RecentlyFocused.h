#pragma once

#include <QString>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace tellwire {

// A host's sessions of the client input contexts seen so far, by the host's
// key for each context. A host is not always told that a context is gone, so
// only the most recently focused are kept.
template <typename Session>
class RecentlyFocused {
public:
    static constexpr std::size_t kLimit = 64;

    using Factory = std::function<std::unique_ptr<Session>(const QString& key)>;
    explicit RecentlyFocused(Factory make)
        : make_(std::move(make))
    {
    }

    // The context's session, made if new, now the most recently focused; the
    // least recently focused beyond the limit is dropped.
    Session& focus(const QString& key)
    {
        auto found = position(entries_, key);
        Entry entry;
        if (found != entries_.end()) {
            entry = std::move(*found);
            entries_.erase(found);
        } else {
            entry = Entry{key, make_(key)};
        }
        entries_.push_back(std::move(entry));
        if (entries_.size() > kLimit) // the least recently focused goes
            entries_.erase(entries_.begin());
        return *entries_.back().session;
    }

    Session* find(const QString& key) const
    {
        auto found = position(entries_, key);
        return found != entries_.end() ? found->session.get() : nullptr;
    }

    // A context the host was told is gone.
    void forget(const QString& key)
    {
        std::erase_if(entries_, [&](const Entry& entry) { return entry.key == key; });
    }

    std::size_t size() const { return entries_.size(); }
    void clear() { entries_.clear(); }

    template <typename F>
    void forEach(F&& visit) const
    {
        for (const Entry& entry : entries_)
            visit(*entry.session);
    }

private:
    struct Entry {
        QString key;
        std::unique_ptr<Session> session;
    };

    // Found in entries_, const or not.
    template <typename Entries>
    static auto position(Entries& entries, const QString& key)
    {
        return std::find_if(entries.begin(), entries.end(), [&](const Entry& entry) { return entry.key == key; });
    }

    Factory make_;
    std::vector<Entry> entries_; // least recently focused first
};

} // namespace tellwire
