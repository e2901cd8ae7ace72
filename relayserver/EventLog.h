#pragma once

#include "Event.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace tellwire {

// What one events request gets: events in order and the cursor to send next.
struct EventBatch {
    std::vector<Event> events;
    std::int64_t cursor = 0;
};

// The recent events of one account. Sequence numbers count up from firstSeq
// and double as cursors; the oldest events are dropped once the log is full.
class EventLog {
public:
    EventLog(std::size_t maxEvents, std::size_t maxBytes, std::int64_t firstSeq = 1);

    const Event& append(EventDraft draft, std::int64_t at);

    // Events with a seq above `cursor`, at most `limit`. A cursor of -1, or one
    // this log never issued, reads from the oldest event kept.
    EventBatch after(std::int64_t cursor, std::size_t limit) const;

    std::int64_t newestSeq() const { return nextSeq_ - 1; }
    std::int64_t nextSeq() const { return nextSeq_; }
    std::size_t size() const { return events_.size(); }

private:
    std::size_t maxEvents_;
    std::size_t maxBytes_;
    std::size_t bytes_ = 0;
    std::int64_t nextSeq_;
    std::deque<Event> events_;
};

} // namespace tellwire
