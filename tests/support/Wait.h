#pragma once

#include <chrono>
#include <functional>

namespace tellwire::testing {

// Runs the GLib main loop (Qt's too, which runs on it) until condition holds
// or timeout passes; true when it holds. The condition is checked after each event.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace tellwire::testing
