#pragma once

// spawn(): starts a task that nobody awaits on the spot (a transfer, the device monitoring loop)
// and hands back a TaskHandle to cancel it, ask whether it ended, or await its result later.
// spawn keeps the callable alive until its task has ended, so a capturing lambda is safe here
// (a lambda coroutine's frame only refers to the lambda, whose captures must outlast the task).
// A failure nobody took from the handle is logged when the last handle and the task are gone; a
// cancellation is not a failure and is not logged.

#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "platform/async/Continuation.h"
#include "platform/async/Outcome.h"
#include "platform/async/Race.h"
#include "platform/async/Task.h"

#include <atomic>
#include <cstdint>
#include <map>
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

// Set once quitting has begun (tests set it back). Main thread only, as spawn is.
inline bool shutdownBegun = false;

// The stop sources of the spawned tasks that have not ended, by a number of their own, so that
// quitting can cancel them all. Main thread only; never destroyed, since a task may end while the
// process's statics are going.
inline std::map<std::uint64_t, std::stop_source>& runningStops() {
    static auto* const stops = new std::map<std::uint64_t, std::stop_source>;
    return *stops;
}
inline std::uint64_t lastSpawnNumber = 0;

template <typename T, typename F> Task<void> runSpawned(F callable, std::shared_ptr<SpawnState<T>> state) {
    ++spawnedTasksRunning;
    const std::uint64_t number = ++lastSpawnNumber;
    runningStops().emplace(number, state->stop);
    Task<T> task = invokeTask<T>(callable, state->stop.get_token());
    state->outcome = co_await settle(std::move(task));
    runningStops().erase(number);
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

// Quitting: cancels every spawned task still running (each ends at its next wait), and from now
// on spawn starts nothing. Whatever a window, a scan or a late device answer would start once the
// quit has begun would run into services that are going away. Main thread only.
inline void beginShutdown() {
    detail::shutdownBegun = true;
    // A copy: a task that ends inside request_stop() takes itself out of the map.
    const std::map<std::uint64_t, std::stop_source> stops = detail::runningStops();
    for (const auto& entry : stops) {
        std::stop_source source = entry.second;
        source.request_stop();
    }
}
inline bool isShuttingDown() { return detail::shutdownBegun; }

// Starts callable(std::stop_token) -> Task<T> at once on the main thread. Once quitting has begun
// the callable is not called, and the handle is finished and cancelled.
template <typename F> TaskHandle<TaskResultOf<F, std::stop_token>> spawn(F callable) {
    using T = TaskResultOf<F, std::stop_token>;
    auto state = std::make_shared<detail::SpawnState<T>>();
    if (detail::shutdownBegun) {
        state->stop.request_stop();
        state->outcome.setError(std::make_exception_ptr(CancelledError{}));
        state->finished = true;
        return TaskHandle<T>(state);
    }
    // The one place where a task runs detached: QCoro lets a dropped task run to its end and
    // free itself, and the handle is how the caller reaches it.
    Task<void> runner = detail::runSpawned<T, F>(std::move(callable), state);
    (void)runner;
    return TaskHandle<T>(state);
}

} // namespace async
