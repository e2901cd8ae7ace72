#include "support/Wait.h"

#include <glib.h>

#include <algorithm>

namespace tellwire::testing {

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0)
            return false;
        // Wakes the blocking iteration if nothing else does.
        GSource* alarm = g_timeout_source_new(guint(std::min<long>(remaining.count(), 10)) + 1);
        g_source_set_callback(alarm, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(alarm, nullptr);
        g_main_context_iteration(nullptr, TRUE);
        g_source_destroy(alarm);
        g_source_unref(alarm);
    }
    return true;
}

} // namespace tellwire::testing
