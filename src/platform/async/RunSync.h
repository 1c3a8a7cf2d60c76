#pragma once

// runSync: waits for a task from plain code (tests, small mains) by running the main event loop
// until it ends, then returns its value or rethrows its exception. QCoro::waitFor would hang
// when the task throws; this one also gives up after timeout with RunSyncTimeout, so a
// task that never ends fails a test instead of stalling it. The time-out is a safety net, never
// a thing to assert on.

#include "platform/async/MainThread.h"
#include "platform/async/Outcome.h"
#include "platform/async/Task.h"
#include "platform/async/TimerInterval.h"

#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <memory>
#include <stdexcept>

namespace async {

struct RunSyncTimeout : std::runtime_error {
    RunSyncTimeout() : std::runtime_error("runSync: the task did not finish in time") {}
};

namespace detail {

template <typename T> struct SyncState {
    Outcome<T> outcome;
    bool done = false;
    QEventLoop* loop = nullptr;
};

template <typename T> Task<void> watchSync(Task<T> task, std::shared_ptr<SyncState<T>> state) {
    state->outcome = co_await settle(std::move(task));
    state->done = true;
    if (state->loop) {
        state->loop->quit();
    }
}

} // namespace detail

template <typename T> T runSync(Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    if (!isMainThread()) {
        throw std::logic_error("runSync must be called on the main thread");
    }
    auto state = std::make_shared<detail::SyncState<T>>();
    // The watcher holds the state, not this frame: after a time-out the task may still end
    // later, and it must then find nothing of ours gone.
    Task<void> watcher = detail::watchSync<T>(std::move(task), state);
    if (!state->done) {
        QEventLoop loop;
        bool timedOut = false;
        QTimer::singleShot(timerInterval(timeout), &loop, [&] {
            timedOut = true;
            loop.quit();
        });
        state->loop = &loop;
        loop.exec();
        state->loop = nullptr;
        if (timedOut && !state->done) {
            throw RunSyncTimeout();
        }
    }
    return state->outcome.get();
}

} // namespace async
