#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>

namespace tellwire::testing {

// Runs the event loop until done() holds or the time is up; true when it held.
template <typename Predicate>
bool waitUntil(Predicate done, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    QDeadlineTimer deadline(timeout);
    // Wakes the loop now and then for conditions that change on other threads.
    QTimer tick;
    tick.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace tellwire::testing
