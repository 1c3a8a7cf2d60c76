#include "device/ExecutableLocator.h"

#include "device/ProcessResult.h"
#include "platform/Logger.h"
#include "platform/async/RunProcess.h"

#include <QFileInfo>
#include <QProcess>

namespace {

const QString whichPath = QStringLiteral("/usr/bin/which");

// A directory carries the x bit too, but starting it could only fail.
bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

QStringList ExecutableLocator::defaultDevelopmentFolders() {
    return {QStringLiteral("/opt/homebrew/bin/"), QStringLiteral("/usr/local/bin/"),
            QStringLiteral("/usr/bin/"), QStringLiteral("/usr/sbin/")};
}

ExecutableLocator::ExecutableLocator(URL helpersURL, QStringList developmentFolders)
    : m_helpersURL(std::move(helpersURL)), m_developmentFolders(std::move(developmentFolders)) {}

std::optional<URL> ExecutableLocator::resolveExecutable(const QString& name) const {
    const URL bundled = m_helpersURL.appendingPathComponent(name);
    if (isExecutableFile(bundled.toLocalFile())) {
        return bundled;
    }
    for (const QString& folder : m_developmentFolders) {
        const QString path = folder + name;
        if (isExecutableFile(path)) {
            Logger::bridge().debug("Resolved %s from development path: %s", name, path);
            return URL::fileURL(path);
        }
    }
    try {
        return findWithWhich(name);
    } catch (const async::ProcessStartError&) {
        return std::nullopt;
    }
}

std::optional<URL> ExecutableLocator::findWithWhich(const QString& name) const {
    // Created, run and destroyed on the calling thread; the waits need no event loop there.
    QProcess which;
    which.setProgram(whichPath);
    which.setArguments({name});
    which.start();
    if (!which.waitForStarted(-1)) {
        throw async::ProcessStartError(whichPath, which.errorString());
    }
    which.waitForFinished(-1);
    if (which.exitStatus() != QProcess::NormalExit || which.exitCode() != 0) {
        return std::nullopt;
    }
    const QString path = ProcessResult::decodeOutput(which.readAllStandardOutput()).trimmed();
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return URL::fileURL(path);
}
