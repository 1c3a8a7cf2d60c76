#pragma once

// The one source of time for the interface's delays (debounce and throttle of published values,
// hide and fallback delays, the slow-click timer, watchdog ticks). Views and operators are handed
// a UiTimerSource instead of starting QTimers of their own, so that a test can put a
// ManualUiTimerSource in its place and step time forward instead of sleeping.

#include "platform/Subscription.h"
#include "platform/async/ContinuousClock.h"

#include <functional>

class UiTimerSource {
public:
    using Duration = async::ContinuousClock::Duration;
    using Instant = async::ContinuousClock::Instant;

    virtual ~UiTimerSource() = default;

    // Time since the source's own epoch; only differences between two readings mean anything.
    virtual Instant now() const = 0;

    // Calls fire once on the main thread, no earlier than delay from now (a negative delay counts
    // as zero; fire never runs inside this call). The timer lasts as long as the returned
    // Subscription: destroying or cancelling it before the timer fires means fire never runs.
    // Main thread only; the source must outlive the timers it started.
    [[nodiscard]] virtual Subscription singleShot(Duration delay, std::function<void()> fire) = 0;

    // The process-wide source over the main loop's timers and the steady clock.
    static UiTimerSource& system();
};
