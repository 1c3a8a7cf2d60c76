#pragma once

// What a finished task left behind: its value or its exception. race and spawn keep a task's
// end in one of these until someone takes it, so that void and non-void tasks share one path.

#include "platform/async/Task.h"

#include <coroutine>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace async::detail {

template <typename T> class Outcome {
public:
    using Value = std::conditional_t<std::is_void_v<T>, bool, T>;

    bool isSet() const { return m_value.has_value() || m_error != nullptr; }
    std::exception_ptr error() const { return m_error; }

    template <typename... Args> void setValue(Args&&... args) {
        m_value.emplace(std::forward<Args>(args)...);
    }
    void setError(std::exception_ptr error) { m_error = std::move(error); }

    // Rethrows the error, or hands out the value: a copy when the value can be copied (several
    // awaiters may ask), else the value itself, once.
    T get() {
        if (m_error) {
            std::rethrow_exception(m_error);
        }
        if constexpr (std::is_void_v<T>) {
            return;
        } else if constexpr (std::is_copy_constructible_v<Value>) {
            return *m_value;
        } else {
            return std::move(*m_value);
        }
    }

private:
    std::optional<Value> m_value;
    std::exception_ptr m_error;
};

// Awaits task and turns its end into an Outcome, so that the caller can look at how it ended
// without a try block around a co_await (and without a co_await inside a catch block, which the
// language does not allow).
template <typename T> Task<Outcome<T>> settle(Task<T> task) {
    Outcome<T> outcome;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
            outcome.setValue(true);
        } else {
            outcome.setValue(co_await task);
        }
    } catch (...) {
        outcome.setError(std::current_exception());
    }
    co_return outcome;
}

// A task that has already failed with error.
template <typename T> Task<T> failedTask(std::exception_ptr error) {
    co_await std::suspend_never{}; // only to make this a coroutine, so the error lands in the task
    std::rethrow_exception(error);
}

// Calls a callable that returns a Task<T>; one that throws instead of returning a task still
// yields a task (that fails), so callers have one path for every failure.
template <typename T, typename F, typename... Args> Task<T> invokeTask(F& callable, Args&&... args) noexcept {
    try {
        return callable(std::forward<Args>(args)...);
    } catch (...) {
        return failedTask<T>(std::current_exception());
    }
}

} // namespace async::detail
