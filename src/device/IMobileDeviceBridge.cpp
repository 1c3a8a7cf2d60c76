#include "device/IMobileDeviceBridge.h"

#include "device/BridgeError.h"
#include "device/ProcessRunner.h"
#include "device/ProcessRunnerError.h"
#include "platform/Logger.h"

namespace {

// Blanks and tabs, but not line breaks: the line structure was taken apart before.
bool isBlank(QChar c) {
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QString trimmingBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.mid(begin, end - begin);
}

QStringList nonEmptyLines(const QString& output) {
    return output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Splits at the first colon that has text before it, leaving out empty pieces: ":x" and "x:"
// give one piece, "a:b:c" gives "a" and "b:c".
QStringList splitAtFirstColon(const QString& line) {
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] != QLatin1Char(':')) {
            continue;
        }
        if (i > start) {
            pieces << line.mid(start, i - start);
            start = i + 1;
            break;
        }
        start = i + 1;
    }
    if (start < line.size()) {
        pieces << line.mid(start);
    }
    return pieces;
}

const QString udidOption = QStringLiteral("-u");

} // namespace

IMobileDeviceBridge::IMobileDeviceBridge(std::shared_ptr<ProcessRunner> runner)
    : m_runner(std::move(runner)) {}

QStringList IMobileDeviceBridge::parseDeviceUDIDs(const QString& output) {
    QStringList udids;
    for (const QString& line : nonEmptyLines(output)) {
        const QString udid = trimmingBlanks(line);
        if (!udid.isEmpty()) {
            udids << udid;
        }
    }
    return udids;
}

QMap<QString, QString> IMobileDeviceBridge::parseDeviceInfo(const QString& output) {
    QMap<QString, QString> info;
    for (const QString& line : nonEmptyLines(output)) {
        const QStringList pieces = splitAtFirstColon(line);
        if (pieces.size() == 2) {
            info.insert(trimmingBlanks(pieces[0]), trimmingBlanks(pieces[1]));
        }
    }
    return info;
}

QString IMobileDeviceBridge::parseDeviceName(const QString& output) {
    return output.trimmed();
}

async::Task<QStringList> IMobileDeviceBridge::listDeviceUDIDs(std::stop_token token) {
    std::shared_ptr<ProcessRunner> runner = m_runner;
    async::Task<ProcessResult> run =
        runner->run(QStringLiteral("idevice_id"), {QStringLiteral("-l")}, queryTimeout, std::move(token));
    const ProcessResult result = co_await run;
    if (result.exitCode != 0) {
        Logger::bridge().error("idevice_id failed: %s", result.standardError);
        co_return QStringList();
    }
    co_return parseDeviceUDIDs(result.standardOutput);
}

async::Task<QStringList> IMobileDeviceBridge::listDeviceUDIDsOrFail(std::stop_token token) {
    std::shared_ptr<ProcessRunner> runner = m_runner;
    const QStringList arguments{QStringLiteral("-l")};
    async::Task<ProcessResult> run =
        runner->run(QStringLiteral("idevice_id"), arguments, queryTimeout, std::move(token));
    const ProcessResult result = co_await run;
    if (result.exitCode != 0) {
        throw ProcessRunnerError::nonZeroExit(result.exitCode, result.standardError,
                                              QStringLiteral("idevice_id ") + arguments.join(u' '));
    }
    co_return parseDeviceUDIDs(result.standardOutput);
}

async::Task<QMap<QString, QString>> IMobileDeviceBridge::deviceInfo(QString udid, std::stop_token token) {
    return domainInfo(std::move(udid), QString(), std::move(token));
}

async::Task<QMap<QString, QString>> IMobileDeviceBridge::domainInfo(QString udid, QString domain,
                                                                    std::stop_token token) {
    std::shared_ptr<ProcessRunner> runner = m_runner;
    QStringList arguments{udidOption, udid};
    if (!domain.isEmpty())
        arguments << QStringLiteral("-q") << domain;
    async::Task<ProcessResult> run =
        runner->run(QStringLiteral("ideviceinfo"), arguments, queryTimeout, std::move(token));
    const ProcessResult result = co_await run;
    if (result.exitCode != 0) {
        throw BridgeError::deviceNotFound(udid);
    }
    co_return parseDeviceInfo(result.standardOutput);
}

async::Task<QString> IMobileDeviceBridge::deviceName(QString udid, std::stop_token token) {
    std::shared_ptr<ProcessRunner> runner = m_runner;
    async::Task<ProcessResult> run =
        runner->run(QStringLiteral("idevicename"), {udidOption, udid}, queryTimeout, std::move(token));
    const ProcessResult result = co_await run;
    if (result.exitCode != 0) {
        Logger::bridge().error("idevicename failed for %s: %s", udid, result.standardError);
        co_return QStringLiteral("Unknown Device");
    }
    co_return parseDeviceName(result.standardOutput);
}
