#pragma once

#include "device/ExecutableLocator.h"
#include "device/ProcessResult.h"
#include "platform/URL.h"
#include "platform/async/SerialExecutor.h"
#include "platform/async/Task.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>
#include <stop_token>

// Finds a helper tool by name and runs it as a child process with a time-out, handing back its
// exit status and everything it printed. The only place in the application that starts child
// processes.
//
// An actor: lookups run one at a time on its own executor (asking `which` blocks it until `which`
// ends). A run itself does not hold the executor: the caller waits on the child without blocking
// the main thread, and other runs may proceed meanwhile. The runner must outlive its runs.
//
// Failures: ProcessRunnerError::executableNotFound when no place has the tool,
// ProcessRunnerError::timeout when the time-out expires first (the child is killed and reaped),
// async::ProcessStartError unchanged when the child cannot be launched, async::CancelledError
// when token is stopped. A non-zero exit is an ordinary result.
class ProcessRunner {
public:
    // "<executable dir>/../libexec/orvanta/helpers": where the installed application keeps its tools.
    static URL defaultHelpersURL();

    explicit ProcessRunner(std::optional<URL> helpersURL = std::nullopt);
    // Searches developmentFolders in place of the usual fixed list; lets tests check the order.
    ProcessRunner(URL helpersURL, QStringList developmentFolders);
    ProcessRunner(const ProcessRunner&) = delete;
    ProcessRunner& operator=(const ProcessRunner&) = delete;

    const URL& helpersURL() const { return m_locator.helpersURL(); }

    async::Task<ProcessResult> run(QString name, QStringList arguments, double timeout,
                                   std::stop_token token = {});
    // Never fails: nothing when the tool is nowhere.
    async::Task<std::optional<URL>> resolveExecutable(QString name);
    // Fails only when `which` cannot be launched.
    async::Task<std::optional<URL>> findWithWhich(QString name);
    // Needs nothing of the runner: a run never touches it once the tool has been found.
    static async::Task<ProcessResult> execute(URL url, QStringList arguments, double timeout,
                                              std::stop_token token = {});

    // The text logs and errors show for a run: the tool's file name, a blank, the arguments
    // joined with blanks (so with no arguments it ends in the blank).
    static QString commandText(const URL& url, const QStringList& arguments);
    // own, with PATH prefixed by the folders where a developer's tools live ("/usr/bin:/bin"
    // standing in for a PATH that own lacks).
    static QProcessEnvironment childEnvironment(QProcessEnvironment own);

private:
    using Lookup = std::optional<URL> (ExecutableLocator::*)(const QString&) const;
    // Runs one lookup of the locator on the executor: lookups are the runner's serialised work.
    async::Task<std::optional<URL>> lookUp(Lookup lookup, QString name);

    ExecutableLocator m_locator;
    async::SerialExecutor m_executor{QStringLiteral("ProcessRunner")};
};
