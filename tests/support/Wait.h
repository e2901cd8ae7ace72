#pragma once

#include <chrono>
#include <functional>

namespace tellwire::testing {

// Runs the GLib main loop (Qt's too, which runs on it) until condition holds
// or timeout passes; true when it holds. The condition is checked after each
// event, and at least every 10 ms for state that other threads change.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace tellwire::testing
