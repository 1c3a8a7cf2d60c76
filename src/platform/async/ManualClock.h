#pragma once

// A continuous clock that moves only when a test tells it to. advance(d) wakes every sleeper
// that falls due within d, in deadline order (ties in the order they went to sleep), resuming
// each directly on the calling (main) thread while the clock stands at that sleeper's deadline.
// A woken coroutine that sleeps again at once is woken within the same advance when its new
// deadline is reached, so "every two seconds" loops can be stepped through deterministically.

#include "platform/async/ContinuousClock.h"

#include <memory>

namespace async {

class ManualClock final : public ContinuousClock {
public:
    explicit ManualClock(Instant start = Instant(0));
    ~ManualClock() override;

    Instant now() const override;
    Task<void> sleep(Duration duration, std::stop_token token) override;

    // Moves the clock forward by duration, waking the sleepers that fall due. Main thread only.
    void advance(Duration duration);

    // Number of coroutines asleep on this clock, for tests that wait for a loop to go to sleep.
    int sleeperCount() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace async
