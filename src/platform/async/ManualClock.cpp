// Sleepers are kept on the main thread and woken inline by advance(); stop requests from other
// threads reach them through postToMain.

#include "platform/async/ManualClock.h"

#include "platform/async/Cancellation.h"
#include "platform/async/MainThread.h"
#include "platform/async/TimerInterval.h"

#include <QtGlobal>

#include <algorithm>
#include <coroutine>
#include <functional>
#include <vector>

namespace async {

namespace {

struct Sleeper {
    ContinuousClock::Instant deadline;
    quint64 order = 0;
    std::coroutine_handle<> handle;
    bool cancelled = false;
};

} // namespace

struct ManualClock::State {
    Instant now;
    quint64 nextOrder = 0;
    std::vector<std::shared_ptr<Sleeper>> sleepers;

    bool remove(const std::shared_ptr<Sleeper>& sleeper) {
        auto it = std::find(sleepers.begin(), sleepers.end(), sleeper);
        if (it == sleepers.end()) {
            return false;
        }
        sleepers.erase(it);
        return true;
    }
};

namespace {

using State = ManualClock::State;

class SleepAwaiter {
public:
    SleepAwaiter(std::shared_ptr<State> state, std::shared_ptr<Sleeper> sleeper)
        : m_state(std::move(state)), m_sleeper(std::move(sleeper)) {}
    // g++ 12 moves the awaiter into the frame; the moved-from one must not unregister.
    SleepAwaiter(SleepAwaiter&& other) noexcept
        : m_state(std::move(other.m_state)), m_sleeper(std::move(other.m_sleeper)) {}
    SleepAwaiter(const SleepAwaiter&) = delete;
    SleepAwaiter& operator=(const SleepAwaiter&) = delete;
    SleepAwaiter& operator=(SleepAwaiter&&) = delete;
    // A frame destroyed while asleep must not be resumed by a later advance.
    ~SleepAwaiter() {
        if (m_state) {
            m_state->remove(m_sleeper);
        }
    }

    bool await_ready() const noexcept { return m_sleeper->deadline <= m_state->now; }
    void await_suspend(std::coroutine_handle<> handle) {
        m_sleeper->handle = handle;
        m_state->sleepers.push_back(m_sleeper);
    }
    void await_resume() const {
        if (m_sleeper->cancelled) {
            throw CancelledError{};
        }
    }

private:
    std::shared_ptr<State> m_state;
    std::shared_ptr<Sleeper> m_sleeper;
};

void wakeCancelled(const std::shared_ptr<State>& state, const std::shared_ptr<Sleeper>& sleeper) {
    if (state->remove(sleeper)) {
        sleeper->cancelled = true;
        sleeper->handle.resume();
    }
}

Task<void> sleepOn(std::shared_ptr<State> state, ContinuousClock::Instant deadline, std::stop_token token) {
    throwIfCancelled(token);
    auto sleeper = std::make_shared<Sleeper>();
    sleeper->deadline = deadline;
    sleeper->order = state->nextOrder++;

    std::weak_ptr<State> weakState = state;
    std::weak_ptr<Sleeper> weakSleeper = sleeper;
    // The stop request may come from any thread; the sleeper list belongs to the main thread.
    std::function<void()> stop = [weakState, weakSleeper] {
        postToMain([weakState, weakSleeper] {
            auto state = weakState.lock();
            auto sleeper = weakSleeper.lock();
            if (state && sleeper) {
                wakeCancelled(state, sleeper);
            }
        });
    };
    std::stop_callback<std::function<void()>> onStop(token, std::move(stop));
    SleepAwaiter awaiter(state, sleeper);
    co_await std::move(awaiter);
}

} // namespace

ManualClock::ManualClock(Instant start) : m_state(std::make_shared<State>()) {
    m_state->now = start;
}

ManualClock::~ManualClock() {
    // Sleepers left behind are cancelled rather than left suspended for ever; the wake-ups are
    // posted so that no coroutine runs inside this destructor.
    for (const auto& sleeper : m_state->sleepers) {
        postToMain([state = m_state, sleeper] { wakeCancelled(state, sleeper); });
    }
}

ContinuousClock::Instant ManualClock::now() const {
    return m_state->now;
}

Task<void> ManualClock::sleep(Duration duration, std::stop_token token) {
    return sleepOn(m_state, saturatedDeadline(m_state->now, duration), std::move(token));
}

void ManualClock::advance(Duration duration) {
    Q_ASSERT(isMainThread());
    auto state = m_state; // a woken coroutine may destroy the clock
    const Instant target = saturatedDeadline(state->now, std::max(duration, Duration(0)));
    for (;;) {
        auto due = std::min_element(
            state->sleepers.begin(), state->sleepers.end(), [](const auto& a, const auto& b) {
                return a->deadline != b->deadline ? a->deadline < b->deadline : a->order < b->order;
            });
        if (due == state->sleepers.end() || (*due)->deadline > target) {
            break;
        }
        auto sleeper = *due;
        state->sleepers.erase(due);
        state->now = std::max(state->now, sleeper->deadline);
        sleeper->handle.resume();
    }
    state->now = target;
}

int ManualClock::sleeperCount() const {
    return int(m_state->sleepers.size());
}

} // namespace async
