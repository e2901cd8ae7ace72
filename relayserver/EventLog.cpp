#include "EventLog.h"

#include <algorithm>

namespace tellwire {

EventLog::EventLog(std::size_t maxEvents, std::size_t maxBytes, std::int64_t firstSeq)
    : maxEvents_(std::max<std::size_t>(maxEvents, 1))
    , maxBytes_(maxBytes)
    , nextSeq_(firstSeq)
{
}

const Event& EventLog::append(EventDraft draft, std::int64_t at)
{
    Event event{std::move(draft), nextSeq_++, at};
    bytes_ += event.bytes();
    events_.push_back(std::move(event));
    // The newest event always stays, even when it alone exceeds the byte budget.
    while (events_.size() > 1 && (events_.size() > maxEvents_ || bytes_ > maxBytes_)) {
        bytes_ -= events_.front().bytes();
        events_.pop_front();
    }
    return events_.back();
}

EventBatch EventLog::after(std::int64_t cursor, std::size_t limit) const
{
    const std::int64_t newest = newestSeq();
    const bool fromOldest = cursor < 0 || cursor > newest;
    EventBatch batch;
    batch.cursor = fromOldest ? newest : cursor;
    if (events_.empty())
        return batch;
    // Kept seqs are consecutive, so the first wanted one is found by offset.
    const std::int64_t first = events_.front().seq;
    const std::int64_t skip = fromOldest ? 0 : std::max<std::int64_t>(cursor + 1 - first, 0);
    const auto begin = events_.begin() + static_cast<std::ptrdiff_t>(
        std::min<std::int64_t>(skip, static_cast<std::int64_t>(events_.size())));
    const auto count = std::min<std::size_t>(limit, static_cast<std::size_t>(events_.end() - begin));
    batch.events.assign(begin, begin + static_cast<std::ptrdiff_t>(count));
    if (!batch.events.empty())
        batch.cursor = batch.events.back().seq;
    return batch;
}

} // namespace tellwire
