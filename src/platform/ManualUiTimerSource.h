#pragma once

// A UiTimerSource whose time moves only when a test tells it to. It stands on a ManualClock, so
// a test that also has coroutines sleeping on a clock can hand them clock() and step both with
// one advance: timers and sleepers wake in deadline order. A timer fires inside advance(), on
// the calling (main) thread, while now() stands at its deadline; ties fire in the order the
// timers were started, and a timer started by a firing one is fired within the same advance
// when it falls due.

#include "platform/UiTimerSource.h"
#include "platform/async/ManualClock.h"

#include <memory>

class ManualUiTimerSource final : public UiTimerSource {
public:
    explicit ManualUiTimerSource(Instant start = Instant(0));
    ~ManualUiTimerSource() override;

    Instant now() const override;
    [[nodiscard]] Subscription singleShot(Duration delay, std::function<void()> fire) override;

    // Moves time forward by duration (a negative one counts as zero), firing what falls due.
    void advance(Duration duration);

    // Timers started and neither fired nor cancelled.
    int pendingCount() const;

    async::ManualClock& clock() { return m_clock; }

    struct State;

private:
    async::ManualClock m_clock;
    std::shared_ptr<State> m_state;
};
