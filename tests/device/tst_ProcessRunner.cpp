// ProcessRunner: where a tool is taken from, what its child sees, and how its end reaches the
// caller: output as text, a failing exit as a result, a time-out as an error with the child gone.

#include "LogCapture.h"
#include "TaskFailure.h"
#include "TestFiles.h"
#include "device/ProcessRunner.h"
#include "device/ProcessRunnerError.h"
#include "platform/async/RunProcess.h"
#include "platform/async/RunSync.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <optional>

namespace {

const QString bridgeLog = LogCapture::category(QStringLiteral("bridge"));

// Writes a file into folder (made on demand): a shell script unless the content brings its own
// first line; executable unless asked otherwise. False when it could not be written.
bool writeScript(const QString& folder, const QString& name, const QString& body, bool executable = true) {
    const QString path = QDir(folder).filePath(name);
    const QByteArray script =
        body.startsWith(QLatin1String("#!")) ? body.toUtf8() : "#!/bin/sh\n" + body.toUtf8() + "\n";
    return writeTestFile(path, script) &&
           QFile::setPermissions(path, executable ? QFile::ReadOwner | QFile::ExeOwner : QFile::ReadOwner);
}

// Puts a folder in front of PATH while it lives. Only while no other thread reads the
// environment: the runner's executor is idle between runs.
struct PathPrefix {
    explicit PathPrefix(const QString& folder) : saved(qgetenv("PATH")) {
        qputenv("PATH", QFile::encodeName(folder) + ':' + saved);
    }
    ~PathPrefix() { qputenv("PATH", saved); }
    QByteArray saved;
};

} // namespace

class tst_ProcessRunner : public QObject {
    Q_OBJECT

private slots:
    void init();

    void findsToolsInLookupOrder_data();
    void findsToolsInLookupOrder();
    void exitStatusAndOutputComeBackAsAResult_data();
    void exitStatusAndOutputComeBackAsAResult();
    void childEnvironmentPrefixesPath();
    void timeoutKillsTheChildAndFails();

private:
    QString helpers() const { return m_scratch->filePath(QStringLiteral("helpers")); }
    // "helpers", "dev1", "dev2" or "path": the folders a tool can be taken from, in lookup order.
    QString folder(const QString& key) const {
        return key == QLatin1String("helpers") ? helpers() : m_scratch->filePath(key) + u'/';
    }
    ProcessRunner makeRunner() const {
        return ProcessRunner(URL::fileURL(helpers(), true),
                             {folder(QStringLiteral("dev1")), folder(QStringLiteral("dev2"))});
    }

    std::unique_ptr<QTemporaryDir> m_scratch;
};

void tst_ProcessRunner::init() {
    m_scratch = std::make_unique<QTemporaryDir>();
    QVERIFY(m_scratch->isValid());
    QDir().mkpath(helpers());
}

void tst_ProcessRunner::findsToolsInLookupOrder_data() {
    QTest::addColumn<QStringList>("executableIn");
    QTest::addColumn<QStringList>("plainFileIn");
    QTest::addColumn<QString>("expectedFolder"); // empty: found nowhere

    QTest::newRow("helpers folder before the development folders")
        << QStringList{"helpers", "dev1", "path"} << QStringList() << "helpers";
    QTest::newRow("a file that is not executable is passed over")
        << QStringList{"dev2"} << QStringList{"helpers", "dev1"} << "dev2";
    QTest::newRow("nowhere") << QStringList() << QStringList{"helpers"} << QString();
}

void tst_ProcessRunner::findsToolsInLookupOrder() {
    QFETCH(QStringList, executableIn);
    QFETCH(QStringList, plainFileIn);
    QFETCH(QString, expectedFolder);
    // A name no system folder and no PATH entry has, so that only the folders above count.
    const QString name = QStringLiteral("orvanta-probe-tool");
    for (const QString& key : executableIn)
        QVERIFY(writeScript(folder(key), name, QStringLiteral("printf ") + key));
    for (const QString& key : plainFileIn)
        QVERIFY(writeScript(folder(key), name, QStringLiteral("exit 0"), false));
    const PathPrefix path(folder(QStringLiteral("path")));
    ProcessRunner runner = makeRunner();
    LogCapture logs;

    if (expectedFolder.isEmpty()) {
        const std::optional<ProcessRunnerError> error =
            failureOf<ProcessRunnerError>(runner.run(name, {}, 30.0));
        QVERIFY(error.has_value());
        QCOMPARE(error->errorCase(), ProcessRunnerError::Case::executableNotFound);
        QCOMPARE(error->description(), QStringLiteral("Executable not found: orvanta-probe-tool"));
        // The device monitoring reports a missing tool; the runner stays quiet about it.
        QCOMPARE(logs.messages(bridgeLog), QStringList());
        return;
    }
    QCOMPARE(async::runSync(runner.run(name, {}, 30.0)).standardOutput, expectedFolder);
    const QStringList resolved = logs.messages(bridgeLog).filter(QStringLiteral("Resolved"));
    QCOMPARE(resolved, expectedFolder.startsWith(QLatin1String("dev"))
                           ? QStringList{QStringLiteral("Resolved %1 from development path: %2")
                                             .arg(name, folder(expectedFolder) + name)}
                           : QStringList());
}

void tst_ProcessRunner::exitStatusAndOutputComeBackAsAResult_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QString>("failureLog");

    QTest::newRow("success, both streams apart")
        << "echo \"$@\"; printf 'note' >&2" << QStringList{QStringLiteral("-u"), QStringLiteral("ABC")} << 0
        << "-u ABC\n"
        << "note" << QString();
    QTest::newRow("status 1 is a result, logged")
        << "printf 'partial'; printf 'No device found.\\n' >&2; exit 1" << QStringList{QStringLiteral("-l")}
        << 1 << "partial"
        << "No device found.\n"
        << QStringLiteral("Command failed (1): tool -l — No device found.\n");
    QTest::newRow("output that is not UTF-8 is empty, the other stream still read")
        << "printf 'ab\\377cd'; printf 'fine' >&2" << QStringList() << 0 << QString() << "fine" << QString();
    // With no arguments the command text ends in its blank.
    QTest::newRow("killed by a signal never reads as success")
        << "kill -9 $$" << QStringList() << int(SIGKILL) << QString() << QString()
        << QStringLiteral("Command failed (9): tool  — ");
}

void tst_ProcessRunner::exitStatusAndOutputComeBackAsAResult() {
    QFETCH(QString, body);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QString, failureLog);

    QVERIFY(writeScript(helpers(), QStringLiteral("tool"), body));
    ProcessRunner runner = makeRunner();
    LogCapture logs;
    const ProcessResult result = async::runSync(runner.run(QStringLiteral("tool"), arguments, 30.0));
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.standardOutput, out);
    QCOMPARE(result.standardError, err);

    const QStringList failures = logs.messages(bridgeLog).filter(QStringLiteral("Command failed"));
    QCOMPARE(failures, failureLog.isNull() ? QStringList() : QStringList{failureLog});
    QVERIFY(logs.messages(bridgeLog).contains(QStringLiteral("Running: tool ") +
                                              arguments.join(QLatin1Char(' '))));
}

void tst_ProcessRunner::childEnvironmentPrefixesPath() {
    QVERIFY(writeScript(helpers(), QStringLiteral("tool"), QStringLiteral("printf '%s' \"$PATH\"")));
    ProcessRunner runner = makeRunner();
    const ProcessResult result = async::runSync(runner.run(QStringLiteral("tool"), {}, 30.0));
    QCOMPARE(result.standardOutput,
             QStringLiteral("/opt/homebrew/bin:/usr/local/bin:") + QString::fromLocal8Bit(qgetenv("PATH")));

    // "/usr/bin:/bin" stands in for a PATH the application lacks.
    QProcessEnvironment own;
    own.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"), QStringLiteral("UNIX:/tmp/fmx-x/mux"));
    const QProcessEnvironment child = ProcessRunner::childEnvironment(own);
    QCOMPARE(child.value(QStringLiteral("PATH")),
             QStringLiteral("/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin"));
    // The tools must reach the same usbmuxd as the application.
    QCOMPARE(child.value(QStringLiteral("USBMUXD_SOCKET_ADDRESS")), QStringLiteral("UNIX:/tmp/fmx-x/mux"));
}

void tst_ProcessRunner::timeoutKillsTheChildAndFails() {
    // Killing and reaping the child is runProcess's; what matters here is what the caller sees.
    QVERIFY(writeScript(helpers(), QStringLiteral("sleeper"), QStringLiteral("exec sleep 300")));
    ProcessRunner runner = makeRunner();
    LogCapture logs;
    const std::optional<ProcessRunnerError> error = failureOf<ProcessRunnerError>(
        runner.run(QStringLiteral("sleeper"), {QStringLiteral("-u"), QStringLiteral("X")}, 0.25));
    QVERIFY(error.has_value());
    QCOMPARE(error->errorCase(), ProcessRunnerError::Case::timeout);
    QCOMPARE(error->description(), QStringLiteral("Command 'sleeper -u X' timed out"));
    QVERIFY(
        logs.messages(bridgeLog).contains(QStringLiteral("Command timed out after 0.250000s: sleeper -u X")));
    // A child killed for its time-out is not also reported as a failed command.
    QCOMPARE(logs.messages(bridgeLog).filter(QStringLiteral("Command failed")), QStringList());
}

QTEST_GUILESS_MAIN(tst_ProcessRunner)
#include "tst_ProcessRunner.moc"
