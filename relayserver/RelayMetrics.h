#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>

namespace tellwire {

// What a relay counts for its operators, read as Prometheus text at /metrics.
// Safe to call from every server thread.
class RelayMetrics {
public:
    // One answered request; paths the relay does not serve count as "other",
    // so that nobody can grow the table.
    void countRequest(const std::string& method, const std::string& path, int status);
    // The method and route a request is counted and logged under.
    static std::pair<std::string, std::string> label(const std::string& method, const std::string& path);
    void countPublished() { ++published_; }
    // One event handed to a desktop, `latencyMs` after it was published.
    void countDelivered(std::int64_t latencyMs);
    void countStoreError() { ++storeErrors_; }

    std::string text(std::size_t heldPolls) const;

private:
    static constexpr std::array<double, 12> bucketsSeconds{0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                           0.1,   0.25,   0.5,   1,    2.5,   10};

    mutable std::mutex mutex_;
    std::map<std::tuple<std::string, std::string, int>, std::uint64_t> requests_;
    std::array<std::uint64_t, bucketsSeconds.size()> delivered_{}; // per bucket, not cumulative
    std::uint64_t deliveredCount_ = 0;
    double deliveredSeconds_ = 0;
    std::atomic<std::uint64_t> published_ = 0;
    std::atomic<std::uint64_t> storeErrors_ = 0;
};

} // namespace tellwire
