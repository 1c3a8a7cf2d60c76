#pragma once

// race(a, b): runs two tasks side by side; the first to finish decides the result, the other is
// cancelled and awaited before race returns, so nothing of the loser outlives the call. race
// owns the two stop sources, which is why it takes callables `Task<T>(std::stop_token)` rather
// than running tasks, and it keeps both callables alive until both tasks have ended: a lambda
// coroutine's frame only refers to the lambda, whose captures must outlast the task.
// A stop request on race's own token is passed to both.

#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "platform/async/Continuation.h"
#include "platform/async/Outcome.h"
#include "platform/async/Task.h"

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>

namespace async {

namespace detail {

template <typename T> struct RaceState {
    Outcome<T> outcomes[2];
    int winner = -1;
    std::stop_source sources[2];
    std::optional<Continuation<void>> firstDone;
};

inline bool isCancellation(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const CancelledError&) {
        return true;
    } catch (...) {
        return false;
    }
}

template <typename T> Task<void> runRacer(Task<T> task, std::shared_ptr<RaceState<T>> state, int index) {
    state->outcomes[index] = co_await settle(std::move(task));
    const std::exception_ptr error = state->outcomes[index].error();
    if (state->winner < 0) {
        state->winner = index;
        state->sources[1 - index].request_stop();
        if (state->firstDone) {
            state->firstDone->resume();
        }
    } else if (error && !isCancellation(error)) {
        qCDebug(lcAsync, "The losing task of a race failed: %s", qUtf8Printable(describeException(error)));
    }
}

} // namespace detail

template <typename FA, typename FB>
Task<TaskResultOf<FA, std::stop_token>> race(FA a, FB b, std::stop_token token = {}) {
    using T = TaskResultOf<FA, std::stop_token>;
    static_assert(std::is_same_v<T, TaskResultOf<FB, std::stop_token>>,
                  "both racers must yield the same type");

    auto state = std::make_shared<detail::RaceState<T>>();
    std::function<void()> stopBoth = [state] {
        state->sources[0].request_stop();
        state->sources[1].request_stop();
    };
    std::stop_callback<std::function<void()>> onStop(token, std::move(stopBoth));

    // Named locals, so that a starts before b: tasks start eagerly, and g++ evaluates call
    // arguments right to left. When a ends before b starts, b starts already cancelled.
    Task<T> taskA = detail::invokeTask<T>(a, state->sources[0].get_token());
    Task<void> racerA = detail::runRacer<T>(std::move(taskA), state, 0);
    Task<T> taskB = detail::invokeTask<T>(b, state->sources[1].get_token());
    Task<void> racerB = detail::runRacer<T>(std::move(taskB), state, 1);

    if (state->winner < 0) {
        auto park = [&state](Continuation<void> continuation) {
            state->firstDone = std::move(continuation);
        };
        co_await withContinuation<void>(park);
    }
    co_await racerA;
    co_await racerB;
    co_return state->outcomes[state->winner].get();
}

} // namespace async
