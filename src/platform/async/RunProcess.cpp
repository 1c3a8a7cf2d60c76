// Only the child's end resumes the caller; time-out and stop merely kill it, which is what
// guarantees that the child has been reaped whenever runProcess returns.

#include "platform/async/RunProcess.h"

#include "platform/async/Cancellation.h"
#include "platform/async/Continuation.h"
#include "platform/async/TimerInterval.h"

#include <QProcess>
#include <QTimer>

#include <functional>
#include <memory>

namespace async {

ProcessStartError::ProcessStartError(QString program, QString reason)
    : std::runtime_error(QStringLiteral("Cannot start %1: %2").arg(program, reason).toStdString()),
      m_program(std::move(program)), m_reason(std::move(reason)) {}

ProcessTimeoutError::ProcessTimeoutError(QString program, std::chrono::milliseconds timeout)
    : std::runtime_error(
          QStringLiteral("%1 timed out after %2 ms").arg(program).arg(timeout.count()).toStdString()),
      m_program(std::move(program)), m_timeout(timeout) {}

namespace {

// Why the wait ended early; decided on the main thread, before the child's end is seen.
enum class Interruption { None, TimedOut, Cancelled };

struct Run {
    QProcess process;
    QTimer timer;
    Interruption interruption = Interruption::None;

    void interrupt(Interruption why) {
        if (interruption != Interruption::None) {
            return;
        }
        interruption = why;
        timer.stop();
        // SIGKILL: a child that ignores SIGTERM must not keep the caller waiting. QProcess
        // reaps it and then emits finished(), which resumes the caller.
        process.kill();
    }
};

} // namespace

Task<ProcessOutput> runProcess(QString program, QStringList arguments, std::chrono::milliseconds timeout,
                               std::optional<QProcessEnvironment> environment, std::stop_token token) {
    throwIfCancelled(token);

    auto run = std::make_unique<Run>();
    run->process.setProgram(program);
    run->process.setArguments(arguments);
    run->process.setInputChannelMode(QProcess::ManagedInputChannel);
    if (environment) {
        run->process.setProcessEnvironment(*environment);
    }
    run->timer.setSingleShot(true);
    run->timer.setTimerType(Qt::PreciseTimer);
    std::optional<std::stop_callback<std::function<void()>>> onStop;
    Run* raw = run.get();

    // Only the child's end (or its failure to start) resumes the caller; time-out and stop
    // just kill it, so the caller always continues after the child was reaped.
    auto start = [&](Continuation<QProcess::ExitStatus> continuation) {
        QObject::connect(&raw->process, &QProcess::finished, &raw->process,
                         [continuation](int, QProcess::ExitStatus status) {
                             if (!continuation.isResumed()) {
                                 continuation.resume(status);
                             }
                         });
        QObject::connect(&raw->process, &QProcess::errorOccurred, &raw->process,
                         [raw, continuation, program](QProcess::ProcessError error) {
                             if (error == QProcess::FailedToStart && !continuation.isResumed()) {
                                 raw->timer.stop();
                                 continuation.resumeThrowing(
                                     ProcessStartError(program, raw->process.errorString()));
                             }
                         });
        QObject::connect(&raw->timer, &QTimer::timeout, &raw->timer,
                         [raw] { raw->interrupt(Interruption::TimedOut); });
        // The stop request may come on any thread; the process belongs to the main thread. The
        // posted job checks that the run is still there through the continuation: once it has
        // been resumed, raw may be gone.
        std::function<void()> stop = [raw, continuation] {
            postToMain([raw, continuation] {
                if (!continuation.isResumed()) {
                    raw->interrupt(Interruption::Cancelled);
                }
            });
        };
        onStop.emplace(token, std::move(stop));
        raw->process.start();
        if (raw->process.state() != QProcess::NotRunning) {
            raw->process.closeWriteChannel();
            raw->timer.start(timerInterval(timeout));
        }
    };
    const QProcess::ExitStatus status = co_await withContinuation<QProcess::ExitStatus>(start);
    onStop.reset();

    switch (run->interruption) {
    case Interruption::TimedOut:
        throw ProcessTimeoutError(program, timeout);
    case Interruption::Cancelled:
        throw CancelledError{};
    case Interruption::None:
        break;
    }
    ProcessOutput output;
    output.crashed = status == QProcess::CrashExit;
    output.exitCode = run->process.exitCode();
    output.standardOutput = run->process.readAllStandardOutput();
    output.standardError = run->process.readAllStandardError();
    co_return output;
}

} // namespace async
