#pragma once

// A one-shot bridge from callback code (a worker thread, a Qt signal, a stop request) into a
// suspended coroutine. Whoever resumes it, from whatever thread, the coroutine continues on the
// main thread through a posted event (coroutines never run on a worker thread), never inside the
// resumer's call stack, so the resumer's own state changes finish before the waiter runs. A second
// resume is logged and ignored. When the last copy of an unresumed continuation goes away, its
// waiter is resumed with CancelledError (and logged) instead of hanging forever with its frame
// leaked.
//
//     int value = co_await async::withContinuation<int>(start);
//
// where start(Continuation<int>) is called at once and hands the continuation to whoever
// will resume it.

#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "platform/async/MainThread.h"

#include <coroutine>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace async {

namespace detail {

template <typename T> struct ContinuationState {
    using Value = std::conditional_t<std::is_void_v<T>, bool, T>;

    std::mutex mutex;
    bool resumed = false;
    std::optional<Value> value;
    std::exception_ptr error;
    std::coroutine_handle<> waiter;

    // Stores the outcome once; false when it had been stored before.
    template <typename Store> bool complete(Store store) {
        std::coroutine_handle<> toWake;
        {
            std::lock_guard lock(mutex);
            if (resumed) {
                return false;
            }
            resumed = true;
            store(*this);
            toWake = waiter;
        }
        if (toWake) {
            postWake(this);
        }
        return true;
    }

    // The waiter is taken under the lock when the posted event runs: the awaiting frame may
    // have been destroyed in between, and then there is nothing to wake.
    static void postWake(ContinuationState* self);
    std::shared_ptr<ContinuationState> keepAlive() { return selfRef.lock(); }
    std::weak_ptr<ContinuationState> selfRef;
};

template <typename T> void ContinuationState<T>::postWake(ContinuationState* self) {
    postToMain([state = self->keepAlive()] {
        std::coroutine_handle<> handle;
        {
            std::lock_guard lock(state->mutex);
            handle = std::exchange(state->waiter, nullptr);
        }
        if (handle) {
            handle.resume();
        }
    });
}

// Shared by all copies of one Continuation: its end is the moment nobody can resume any more.
template <typename T> struct ContinuationOwner {
    std::shared_ptr<ContinuationState<T>> state;

    ~ContinuationOwner() {
        const bool abandoned = state->complete(
            [](ContinuationState<T>& s) { s.error = std::make_exception_ptr(CancelledError{}); });
        if (abandoned) {
            qCWarning(lcAsync, "A continuation was destroyed without being resumed; its waiter is cancelled");
        }
    }
};

} // namespace detail

template <typename T = void> class Continuation {
public:
    Continuation() : m_owner(std::make_shared<detail::ContinuationOwner<T>>()) {
        auto state = std::make_shared<detail::ContinuationState<T>>();
        state->selfRef = state;
        m_owner->state = std::move(state);
    }

    template <typename U = T>
    requires(!std::is_void_v<U>) void resume(U value) const {
        finish(m_owner->state->complete([&](auto& s) { s.value.emplace(std::move(value)); }));
    }

    template <typename U = T>
    requires std::is_void_v<U>
    void resume() const {
        finish(m_owner->state->complete([](auto& s) { s.value.emplace(true); }));
    }

    void resumeWithException(std::exception_ptr error) const {
        finish(m_owner->state->complete([&](auto& s) { s.error = std::move(error); }));
    }

    // Resumes the waiter by throwing error there, with its own type intact.
    template <typename E> void resumeThrowing(E error) const {
        resumeWithException(std::make_exception_ptr(std::move(error)));
    }

    bool isResumed() const {
        std::lock_guard lock(m_owner->state->mutex);
        return m_owner->state->resumed;
    }

    std::shared_ptr<detail::ContinuationState<T>> state() const { return m_owner->state; }

private:
    static void finish(bool first) {
        if (!first) {
            qCWarning(lcAsync, "A continuation was resumed more than once; the later resume is ignored");
        }
    }

    std::shared_ptr<detail::ContinuationOwner<T>> m_owner;
};

// The awaiter of withContinuation. It holds the state only, never a Continuation, so that the
// waiting coroutine itself does not count as someone who could still resume.
template <typename T> class ContinuationAwaiter {
public:
    explicit ContinuationAwaiter(std::shared_ptr<detail::ContinuationState<T>> state)
        : m_state(std::move(state)) {}
    ContinuationAwaiter(ContinuationAwaiter&& other) noexcept : m_state(std::move(other.m_state)) {}
    ContinuationAwaiter(const ContinuationAwaiter&) = delete;
    ContinuationAwaiter& operator=(const ContinuationAwaiter&) = delete;
    ContinuationAwaiter& operator=(ContinuationAwaiter&&) = delete;

    // A frame destroyed while suspended must not be woken later.
    ~ContinuationAwaiter() {
        if (m_state) {
            std::lock_guard lock(m_state->mutex);
            m_state->waiter = nullptr;
        }
    }

    // Always suspends, also when the outcome is already there: the coroutine then continues
    // through the main loop like any other resumption. Otherwise whether it went on at once or
    // later would depend on thread timing, and events a worker posted before resuming (progress
    // reports) could arrive after the result.
    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> handle) noexcept {
        bool alreadyResumed = false;
        {
            std::lock_guard lock(m_state->mutex);
            m_state->waiter = handle;
            alreadyResumed = m_state->resumed;
        }
        if (alreadyResumed) {
            detail::ContinuationState<T>::postWake(m_state.get());
        }
    }

    T await_resume() {
        std::lock_guard lock(m_state->mutex);
        if (m_state->error) {
            std::rethrow_exception(m_state->error);
        }
        if constexpr (!std::is_void_v<T>) {
            return std::move(*m_state->value);
        }
    }

private:
    std::shared_ptr<detail::ContinuationState<T>> m_state;
};

// Calls start with a new continuation, then suspends until it is resumed. A continuation
// resumed while start runs still continues through the main loop.
template <typename T, typename Start> ContinuationAwaiter<T> withContinuation(Start&& start) {
    Continuation<T> continuation;
    ContinuationAwaiter<T> awaiter(continuation.state());
    std::forward<Start>(start)(std::move(continuation));
    return awaiter;
}

} // namespace async
