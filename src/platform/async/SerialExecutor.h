#pragma once

// The serial executor of an actor: one thread (started by the first job), one FIFO queue of plain synchronous jobs. Work
// that blocks (library calls into the device, file I/O, hashing) runs here and never on the main
// thread, while coroutines stay on the main thread: `co_await executor.run(job)` runs
// the job here and continues on the main thread with its value or its exception, whose type
// survives the crossing (a caller catching AFCError catches it).

#include "platform/async/Continuation.h"
#include "platform/async/Task.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <type_traits>

namespace async {

class SerialExecutor {
public:
    explicit SerialExecutor(QString name = QStringLiteral("executor"));
    // The job in progress runs to its end; jobs not yet started are dropped, and a coroutine
    // awaiting one of them continues with CancelledError. Then the thread is joined.
    ~SerialExecutor();

    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    // Queues a job that nobody awaits. An exception it throws is logged and dropped.
    void post(std::function<void()> job);

    // Queues job (a callable without arguments) and resumes the awaiting coroutine on the main
    // thread with its result or its exception. The job is queued at the call, not at the
    // co_await, so jobs run in the order run() was called.
    template <typename F> Task<std::invoke_result_t<F>> run(F job) {
        using R = std::invoke_result_t<F>;
        // A shared holder lets move-only callables travel through std::function.
        auto shared = std::make_shared<F>(std::move(job));
        Continuation<R> continuation;
        auto awaiter = ContinuationAwaiter<R>(continuation.state());
        post([shared, continuation]() {
            try {
                if constexpr (std::is_void_v<R>) {
                    (*shared)();
                    continuation.resume();
                } else {
                    continuation.resume((*shared)());
                }
            } catch (...) {
                continuation.resumeWithException(std::current_exception());
            }
        });
        return awaitJob<R>(std::move(awaiter));
    }

    // True when called from this executor's own thread.
    bool isCurrent() const;

    // Stopped when the executor stops or starts shutting down, after the queue was emptied: a
    // long job checks it between steps to end early instead of holding up its owner.
    std::stop_token shutdownToken() const { return m_shutdown.get_token(); }

    // Ends the executor's work without waiting: the job in progress is asked to stop through
    // shutdownToken(), and jobs not yet started are dropped (their awaiting coroutines continue
    // with CancelledError). Jobs queued afterwards still run, with the token stopped: an owner
    // uses them to release what the cancelled jobs held.
    void stop();

private:
    template <typename R> static Task<R> awaitJob(ContinuationAwaiter<R> awaiter) {
        co_return co_await std::move(awaiter);
    }

    void loop();

    QString m_name;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::stop_source m_shutdown;
    std::thread m_thread; // started by the first job, under m_mutex
    // Read by isCurrent() from any thread without the lock; no thread's own id before the start.
    std::atomic<std::thread::id> m_threadId;
};

} // namespace async
