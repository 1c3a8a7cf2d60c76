#pragma once

// runProcess: runs a child process from a main-thread coroutine without blocking the loop
// (QProcess's signals resume the coroutine). Whatever ends the wait (exit, time-out, stop
// request) the child has been killed if need be and reaped before runProcess returns, so no
// process and no pipe outlives the call. Once the time-out has fired the caller gets
// ProcessTimeoutError even when the child happened to exit by itself at the same moment: a
// time-out that was noticed is never turned back into an ordinary result.

#include "platform/async/Task.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <stop_token>

namespace async {

struct ProcessOutput {
    int exitCode = 0;     // the exit status of a child that exited normally
    bool crashed = false; // ended by a signal; exitCode then has no meaning
    QByteArray standardOutput;
    QByteArray standardError;
};

// The program could not be started (missing, not executable, fork failure).
class ProcessStartError : public std::runtime_error {
public:
    ProcessStartError(QString program, QString reason);
    QString program() const { return m_program; }
    QString reason() const { return m_reason; }

private:
    QString m_program;
    QString m_reason;
};

// The child ran past its time-out and was killed.
class ProcessTimeoutError : public std::runtime_error {
public:
    ProcessTimeoutError(QString program, std::chrono::milliseconds timeout);
    QString program() const { return m_program; }
    std::chrono::milliseconds timeout() const { return m_timeout; }

private:
    QString m_program;
    std::chrono::milliseconds m_timeout;
};

// Runs program with arguments. environment replaces the child's environment when given, else the
// child inherits ours. Its standard input is closed. Throws ProcessStartError, ProcessTimeoutError,
// or CancelledError (the child killed and reaped) when token is stopped.
Task<ProcessOutput> runProcess(QString program, QStringList arguments, std::chrono::milliseconds timeout,
                               std::optional<QProcessEnvironment> environment, std::stop_token token);

} // namespace async
