#pragma once

// The clock that periodic and time-limited work reads and sleeps on (device scans every two
// seconds, listing caches, progress throttling, stall watchdogs). It is an interface so that
// tests can put a ManualClock in its place and step time forward instead of sleeping.

#include "platform/async/Task.h"

#include <chrono>
#include <stop_token>

namespace async {

class ContinuousClock {
public:
    using Duration = std::chrono::nanoseconds;
    // Time since the clock's own epoch; only differences between two readings mean anything.
    using Instant = std::chrono::nanoseconds;

    virtual ~ContinuousClock() = default;

    virtual Instant now() const = 0;

    // Suspends until now() has advanced by at least duration; throws CancelledError when token
    // is or becomes stopped. The clock must outlive the sleep.
    virtual Task<void> sleep(Duration duration, std::stop_token token) = 0;
};

} // namespace async
