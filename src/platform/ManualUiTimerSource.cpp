#include "platform/ManualUiTimerSource.h"

#include "platform/async/MainThread.h"
#include "platform/async/TimerInterval.h"

#include <QtGlobal>

#include <algorithm>
#include <vector>

struct ManualUiTimerSource::State {
    struct Timer {
        Instant deadline;
        quint64 order = 0;
        std::function<void()> fire;
    };
    quint64 lastOrder = 0;
    std::vector<Timer> timers;

    std::vector<Timer>::iterator earliest() {
        return std::min_element(timers.begin(), timers.end(), [](const Timer& a, const Timer& b) {
            return a.deadline != b.deadline ? a.deadline < b.deadline : a.order < b.order;
        });
    }
};

ManualUiTimerSource::ManualUiTimerSource(Instant start)
    : m_clock(start), m_state(std::make_shared<State>()) {}

ManualUiTimerSource::~ManualUiTimerSource() = default;

UiTimerSource::Instant ManualUiTimerSource::now() const {
    return m_clock.now();
}

Subscription ManualUiTimerSource::singleShot(Duration delay, std::function<void()> fire) {
    Q_ASSERT(async::isMainThread());
    const quint64 order = ++m_state->lastOrder;
    m_state->timers.push_back(
        {async::saturatedDeadline(now(), std::max(delay, Duration(0))), order, std::move(fire)});
    // The handle may outlive the source; then there is nothing left to cancel.
    return Subscription([weakState = std::weak_ptr<State>(m_state), order] {
        if (auto state = weakState.lock()) {
            std::erase_if(state->timers, [order](const State::Timer& timer) { return timer.order == order; });
        }
    });
}

void ManualUiTimerSource::advance(Duration duration) {
    Q_ASSERT(async::isMainThread());
    auto state = m_state; // a firing timer may destroy the source
    auto& clock = m_clock;
    const Instant target = async::saturatedDeadline(clock.now(), std::max(duration, Duration(0)));
    for (;;) {
        auto due = state->earliest();
        if (due == state->timers.end() || due->deadline > target) {
            break;
        }
        if (clock.now() < due->deadline) {
            // Sleepers due first wake first; they may start or cancel timers, so look again.
            clock.advance(due->deadline - clock.now());
            if (state.use_count() == 1) {
                return; // a woken sleeper destroyed the source
            }
            continue;
        }
        auto fire = std::move(due->fire);
        state->timers.erase(due);
        fire();
        if (state.use_count() == 1) {
            return; // the source is gone
        }
    }
    if (clock.now() < target) {
        clock.advance(target - clock.now());
    }
}

int ManualUiTimerSource::pendingCount() const {
    return int(m_state->timers.size());
}
