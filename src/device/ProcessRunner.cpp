#include "device/ProcessRunner.h"

#include "device/ProcessRunnerError.h"
#include "platform/Logger.h"
#include "platform/async/RunProcess.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

const QString pathVariable = QStringLiteral("PATH");

std::chrono::milliseconds toMilliseconds(double seconds) {
    if (!(seconds > 0)) { // also NaN
        return std::chrono::milliseconds(0);
    }
    return std::chrono::milliseconds(std::llround(std::min(seconds, 1e9) * 1000.0));
}

} // namespace

URL ProcessRunner::defaultHelpersURL() {
    const QString folder = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                           QStringLiteral("/../libexec/orvanta/helpers"));
    return URL::fileURL(folder, true);
}

ProcessRunner::ProcessRunner(std::optional<URL> helpersURL)
    : m_locator(helpersURL ? std::move(*helpersURL) : defaultHelpersURL()) {}

ProcessRunner::ProcessRunner(URL helpersURL, QStringList developmentFolders)
    : m_locator(std::move(helpersURL), std::move(developmentFolders)) {}

async::Task<ProcessResult> ProcessRunner::run(QString name, QStringList arguments, double timeout,
                                              std::stop_token token) {
    async::Task<std::optional<URL>> lookup = resolveExecutable(name);
    const std::optional<URL> url = co_await lookup;
    if (!url) {
        // Not logged here: the device monitoring tells the user that the tools are missing.
        throw ProcessRunnerError::executableNotFound(name);
    }
    async::Task<ProcessResult> child = execute(*url, std::move(arguments), timeout, std::move(token));
    ProcessResult result = co_await child;
    co_return result;
}

async::Task<std::optional<URL>> ProcessRunner::resolveExecutable(QString name) {
    return lookUp(&ExecutableLocator::resolveExecutable, std::move(name));
}

async::Task<std::optional<URL>> ProcessRunner::findWithWhich(QString name) {
    return lookUp(&ExecutableLocator::findWithWhich, std::move(name));
}

async::Task<std::optional<URL>> ProcessRunner::lookUp(Lookup lookup, QString name) {
    // The job holds copies only, so it never reaches into the runner from the executor's thread.
    auto job = [locator = m_locator, lookup, name] {
        return (locator.*lookup)(name);
    };
    async::Task<std::optional<URL>> found = m_executor.run(std::move(job));
    std::optional<URL> url = co_await found;
    co_return url;
}

async::Task<ProcessResult> ProcessRunner::execute(URL url, QStringList arguments, double timeout,
                                                  std::stop_token token) {
    const QString command = commandText(url, arguments);
    Logger::bridge().debug("Running: %s", command);

    std::optional<QProcessEnvironment> environment =
        childEnvironment(QProcessEnvironment::systemEnvironment());
    async::ProcessOutput output;
    bool timedOut = false;
    try {
        async::Task<async::ProcessOutput> child = async::runProcess(
            url.toLocalFile(), arguments, toMilliseconds(timeout), std::move(environment), std::move(token));
        output = co_await child;
    } catch (const async::ProcessTimeoutError&) {
        // Once the time-out has fired the caller gets the time-out, never the result of the
        // child that was killed for it: a half-finished listing must not pass for a real one.
        timedOut = true;
    }
    if (timedOut) {
        Logger::bridge().error("Command timed out after %fs: %s", timeout, command);
        throw ProcessRunnerError::timeout(command);
    }

    ProcessResult result;
    result.exitCode = output.exitCode;
    // A child killed by a signal must never read as a success.
    if (output.crashed && result.exitCode == 0) {
        result.exitCode = -1;
    }
    result.standardOutput = ProcessResult::decodeOutput(output.standardOutput);
    result.standardError = ProcessResult::decodeOutput(output.standardError);
    if (result.exitCode != 0) {
        Logger::bridge().error("Command failed (%d): %s — %s", result.exitCode, command,
                               result.standardError);
    }
    co_return result;
}

QString ProcessRunner::commandText(const URL& url, const QStringList& arguments) {
    return url.lastPathComponent() + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
}

QProcessEnvironment ProcessRunner::childEnvironment(QProcessEnvironment own) {
    const QString path =
        own.contains(pathVariable) ? own.value(pathVariable) : QStringLiteral("/usr/bin:/bin");
    own.insert(pathVariable, QStringLiteral("/opt/homebrew/bin:/usr/local/bin:") + path);
    return own;
}
