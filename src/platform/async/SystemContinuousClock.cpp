// The production clock: steady_clock readings, QTimer sleeps re-armed until the deadline.

#include "platform/async/SystemContinuousClock.h"

#include "platform/async/Sleep.h"
#include "platform/async/TimerInterval.h"

namespace async {

namespace {

ContinuousClock::Instant steadyNow() {
    return std::chrono::duration_cast<ContinuousClock::Instant>(
        std::chrono::steady_clock::now().time_since_epoch());
}

// Not a member, so that no `this` is held across the sleeps: a clock handed to a service may be
// destroyed before a sleep it started has ended.
Task<void> sleepUntil(ContinuousClock::Instant deadline, std::stop_token token) {
    // A timer may fire a little early against steady_clock; sleep again for what remains so
    // that the promise "at least duration" holds.
    do {
        co_await sleepFor(deadline - steadyNow(), token);
    } while (steadyNow() < deadline);
}

} // namespace

ContinuousClock::Instant SystemContinuousClock::now() const {
    return steadyNow();
}

Task<void> SystemContinuousClock::sleep(Duration duration, std::stop_token token) {
    return sleepUntil(saturatedDeadline(steadyNow(), duration), std::move(token));
}

SystemContinuousClock& SystemContinuousClock::shared() {
    static SystemContinuousClock clock;
    return clock;
}

} // namespace async
