// The timer and the stop request race to resume the sleeper; both act on the main thread, so
// the first one wins without a lock.

#include "platform/async/Sleep.h"

#include "platform/async/Cancellation.h"
#include "platform/async/Continuation.h"
#include "platform/async/TimerInterval.h"

#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace async {

namespace {

// Both the timer and the stop request may try to resume; on the main thread the first one
// wins and the other sees the continuation resumed.
void wakeOnce(const Continuation<void>& continuation, bool cancelled) {
    if (continuation.isResumed()) {
        return;
    }
    if (cancelled) {
        continuation.resumeThrowing(CancelledError{});
    } else {
        continuation.resume();
    }
}

} // namespace

Task<void> sleepFor(std::chrono::nanoseconds duration, std::stop_token token) {
    throwIfCancelled(token);
    const std::chrono::milliseconds millis = timerInterval(duration);

    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    std::optional<std::stop_callback<std::function<void()>>> onStop;

    auto start = [&](Continuation<void> continuation) {
        QObject::connect(timer.get(), &QTimer::timeout, timer.get(),
                         [continuation] { wakeOnce(continuation, false); });
        std::function<void()> stop = [continuation] {
            postToMain([continuation] { wakeOnce(continuation, true); });
        };
        onStop.emplace(token, std::move(stop));
        timer->start(millis);
    };
    co_await withContinuation<void>(start);
}

} // namespace async
