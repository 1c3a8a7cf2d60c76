#pragma once

// The serial executor of an actor: one thread (started by the first job), one FIFO queue of plain synchronous jobs. Work
// that blocks (library calls into the device, file I/O, hashing) runs here and never on the main
// thread, while coroutines stay on the main thread: `co_await executor.run(job)` runs
// the job here and continues on the main thread with its value or its exception, whose type
// survives the crossing (a caller catching AFCError catches it).
//
// A leavable executor need not wait for its job in progress: a look at a folder on a share whose
// server went silent waits in the kernel for as long as the server does (on a hard mount, for
// good), and neither its owner's end nor quitting may wait with it. Such a job is left to its
// thread, which ends on its own whenever the call returns, and its waiter continues at once with
// CancelledError. Its jobs must therefore hold all they touch (values they captured, never their
// owner), the queue being shared state that outlives the owner.

#include "platform/async/Continuation.h"
#include "platform/async/Task.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <type_traits>

class LeavableThread;

namespace async {

class SerialExecutor {
public:
    // How long the end of a leavable executor waits for its job in progress before leaving it.
    struct Leavable {
        std::chrono::milliseconds wait;
    };

    explicit SerialExecutor(QString name = QStringLiteral("executor"));
    SerialExecutor(QString name, Leavable leavable);
    // Jobs not yet started are dropped, and a coroutine awaiting one of them continues with
    // CancelledError. The job in progress runs to its end and the thread is joined; a leavable
    // executor's is waited for as long as it said, then left.
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
        // Answered once: by the job, or by an owner that leaves the job running.
        auto answered = std::make_shared<std::atomic_flag>();
        Job queued;
        queued.run = [shared, continuation, answered]() {
            try {
                if constexpr (std::is_void_v<R>) {
                    (*shared)();
                    if (!answered->test_and_set())
                        continuation.resume();
                } else {
                    R value = (*shared)();
                    if (!answered->test_and_set())
                        continuation.resume(std::move(value));
                }
            } catch (...) {
                if (!answered->test_and_set())
                    continuation.resumeWithException(std::current_exception());
            }
        };
        queued.giveUp = [continuation, answered] {
            if (!answered->test_and_set())
                continuation.resumeThrowing(CancelledError{});
        };
        enqueue(std::move(queued));
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

    // Quitting: every leavable executor stops, and leaves a job still in progress to its thread
    // (jobs queued afterwards run on a new one).
    static void leaveRunningJobs();

private:
    struct Job {
        std::function<void()> run;
        // Answers the job's waiter with CancelledError; empty for a posted job.
        std::function<void()> giveUp;
    };
    struct Queue;

    template <typename R> static Task<R> awaitJob(ContinuationAwaiter<R> awaiter) {
        co_return co_await std::move(awaiter);
    }

    void enqueue(Job job);
    // Stops, and leaves the job in progress to its thread when there is one.
    void leaveRunningJob();

    std::shared_ptr<Queue> m_queue;
    std::optional<Leavable> m_leavable;
    std::stop_source m_shutdown;
    // Started by the first job after the start or a leave, under the queue's lock.
    std::unique_ptr<LeavableThread> m_thread;
};

} // namespace async
