#include "RelayMetrics.h"

#include "PhonePage.h"

#include <algorithm>
#include <sstream>

namespace tellwire {

namespace {

bool isRoute(const std::string& path)
{
    static const char* const routes[] = {"/v1/auth/phone/request", "/v1/auth/phone/verify", "/v1/auth/local",
                                         "/v1/me", "/v1/events", "/v1/pairings", "/v1/pairings/claim",
                                         "/v1/devices", "/v1/devices/remove", "/healthz", "/metrics"};
    return std::find(std::begin(routes), std::end(routes), path) != std::end(routes) || phoneAsset(path);
}

} // namespace

std::pair<std::string, std::string> RelayMetrics::label(const std::string& method, const std::string& path)
{
    const bool known = method == "GET" || method == "POST";
    return {known ? method : "other", known && isRoute(path) ? path : "other"};
}

void RelayMetrics::countRequest(const std::string& method, const std::string& path, int status)
{
    auto [countedMethod, route] = label(method, path);
    std::lock_guard lock(mutex_);
    ++requests_[{std::move(countedMethod), std::move(route), status}];
}

void RelayMetrics::countDelivered(std::int64_t latencyMs)
{
    const double seconds = double(std::max<std::int64_t>(latencyMs, 0)) / 1000;
    const auto bucket = std::lower_bound(bucketsSeconds.begin(), bucketsSeconds.end(), seconds);
    std::lock_guard lock(mutex_);
    if (bucket != bucketsSeconds.end())
        ++delivered_[std::size_t(bucket - bucketsSeconds.begin())];
    ++deliveredCount_;
    deliveredSeconds_ += seconds;
}

std::string RelayMetrics::text(std::size_t heldPolls) const
{
    std::ostringstream out;
    std::lock_guard lock(mutex_);
    out << "# HELP tellwire_relay_requests_total Requests answered, by method, route and status.\n"
           "# TYPE tellwire_relay_requests_total counter\n";
    for (const auto& [key, count] : requests_) {
        const auto& [method, route, status] = key;
        out << "tellwire_relay_requests_total{method=\"" << method << "\",route=\"" << route << "\",status=\""
            << status << "\"} " << count << "\n";
    }
    out << "# HELP tellwire_relay_held_polls Events requests held open now.\n"
           "# TYPE tellwire_relay_held_polls gauge\n"
           "tellwire_relay_held_polls " << heldPolls << "\n"
           "# HELP tellwire_relay_events_published_total Events published by phones.\n"
           "# TYPE tellwire_relay_events_published_total counter\n"
           "tellwire_relay_events_published_total " << published_ << "\n"
           "# HELP tellwire_relay_store_errors_total Requests refused because the store could not be reached.\n"
           "# TYPE tellwire_relay_store_errors_total counter\n"
           "tellwire_relay_store_errors_total " << storeErrors_ << "\n"
           "# HELP tellwire_relay_delivery_seconds From publishing an event to handing it to a desktop.\n"
           "# TYPE tellwire_relay_delivery_seconds histogram\n";
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < bucketsSeconds.size(); ++i) {
        cumulative += delivered_[i];
        out << "tellwire_relay_delivery_seconds_bucket{le=\"" << bucketsSeconds[i] << "\"} " << cumulative << "\n";
    }
    out << "tellwire_relay_delivery_seconds_bucket{le=\"+Inf\"} " << deliveredCount_ << "\n"
        << "tellwire_relay_delivery_seconds_sum " << deliveredSeconds_ << "\n"
        << "tellwire_relay_delivery_seconds_count " << deliveredCount_ << "\n";
    return out.str();
}

} // namespace tellwire
