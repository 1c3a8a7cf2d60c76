#pragma once

// spawn(): starts a task that nobody awaits on the spot (a transfer, the device monitoring loop)
// and hands back a TaskHandle to cancel it, ask whether it ended, or await its result later.
// spawn keeps the callable alive until its task has ended, so a capturing lambda is safe here
// (a lambda coroutine's frame only refers to the lambda, whose captures must outlast the task).
// A failure nobody took from the handle is logged when the last handle and the task are gone; a
// cancellation is not a failure and is not logged.

#include "platform/async/AsyncLog.h"
#include "platform/async/Continuation.h"
#include "platform/async/Outcome.h"
#include "platform/async/Race.h"
#include "platform/async/Task.h"

#include <atomic>
#include <memory>
#include <stdexcept>
#include <stop_token>
#include <vector>

namespace async {

namespace detail {

template <typename T> struct SpawnState {
    std::stop_source stop;
    Outcome<T> outcome;
    bool finished = false;
    bool observed = false;
    std::vector<Continuation<void>> waiters;

    ~SpawnState() {
        const std::exception_ptr error = outcome.error();
        if (error && !observed && !isCancellation(error)) {
            qCWarning(lcAsync, "A spawned task failed and nobody awaited it: %s",
                      qUtf8Printable(describeException(error)));
        }
    }
};

inline std::atomic<int> spawnedTasksRunning{0};

template <typename T, typename F> Task<void> runSpawned(F callable, std::shared_ptr<SpawnState<T>> state) {
    ++spawnedTasksRunning;
    Task<T> task = invokeTask<T>(callable, state->stop.get_token());
    state->outcome = co_await settle(std::move(task));
    state->finished = true;
    auto waiters = std::move(state->waiters);
    for (const auto& waiter : waiters) {
        waiter.resume();
    }
    --spawnedTasksRunning;
}

template <typename T> Task<T> awaitSpawned(std::shared_ptr<SpawnState<T>> state) {
    if (!state) {
        throw std::logic_error("result() of an empty TaskHandle");
    }
    state->observed = true;
    if (!state->finished) {
        auto park = [&state](Continuation<void> continuation) {
            state->waiters.push_back(std::move(continuation));
        };
        co_await withContinuation<void>(park);
    }
    co_return state->outcome.get();
}

} // namespace detail

template <typename T = void> class TaskHandle {
public:
    // An empty handle: finished, nothing to cancel.
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<detail::SpawnState<T>> state) : m_state(std::move(state)) {}

    // Asks the task to stop; it ends at its next cancellation check.
    void cancel() const {
        if (m_state) {
            m_state->stop.request_stop();
        }
    }

    bool isFinished() const { return !m_state || m_state->finished; }
    bool isCancelled() const { return m_state && m_state->stop.stop_requested(); }

    // Awaits the end of the task: its value, or its exception. May be awaited more than once.
    Task<T> result() const { return detail::awaitSpawned<T>(m_state); }

private:
    std::shared_ptr<detail::SpawnState<T>> m_state;
};

// How many spawned tasks have not ended yet. Tests wait for it to fall back after destroying a
// window, whose last tasks end only once the services have answered their pending work.
inline int spawnedTasksRunning() { return detail::spawnedTasksRunning.load(); }

// Starts callable(std::stop_token) -> Task<T> at once on the main thread.
template <typename F> TaskHandle<TaskResultOf<F, std::stop_token>> spawn(F callable) {
    using T = TaskResultOf<F, std::stop_token>;
    auto state = std::make_shared<detail::SpawnState<T>>();
    // The one place where a task runs detached: QCoro lets a dropped task run to its end and
    // free itself, and the handle is how the caller reaches it.
    Task<void> runner = detail::runSpawned<T, F>(std::move(callable), state);
    (void)runner;
    return TaskHandle<T>(state);
}

} // namespace async
