// runProcess: output and exit codes come back whole; a child that overstays its time-out or is
// cancelled is killed and reaped before the caller continues, and the caller learns why.

#include "platform/async/Cancellation.h"
#include "platform/async/RunProcess.h"
#include "platform/async/RunSync.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace async;
using namespace std::chrono_literals;

namespace {

// Starts a child that reports its pid through a FIFO and then sleeps far longer than any test.
// Reading the FIFO blocks until the child has written, so the test knows the child runs without
// waiting on the clock.
struct SleepingChild {
    QTemporaryDir dir;
    QString fifo = dir.filePath(QStringLiteral("pid"));

    QStringList arguments() const {
        return {QStringLiteral("-c"), QStringLiteral("echo $$ > '%1'; exec sleep 30").arg(fifo)};
    }

    bool makeFifo() const { return ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0; }

    pid_t readPid() const {
        QFile file(fifo);
        if (!file.open(QIODevice::ReadOnly)) {
            return -1;
        }
        return pid_t(file.readAll().trimmed().toLongLong());
    }
};

bool isGone(pid_t pid) {
    // A zombie still answers kill(pid, 0); only a reaped child is gone.
    return ::kill(pid, 0) == -1 && errno == ESRCH;
}

} // namespace

class tst_RunProcess : public QObject {
    Q_OBJECT

private slots:
    void returnsExitCodeAndOutput_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("non-zero exit is a result")
            << "printf 'ERROR: No device' >&2; exit 1" << 1 << QByteArray() << QByteArray("ERROR: No device");
        // More than a pipe holds: the output must be drained while the child runs.
        QTest::newRow("large output")
            << "head -c 300000 /dev/zero" << 0 << QByteArray(300000, '\0') << QByteArray();
    }

    void returnsExitCodeAndOutput() {
        QFETCH(QString, script);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        const auto result = runSync(runProcess("/bin/sh", {"-c", script}, 30s, std::nullopt, {}));
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY(!result.crashed);
        QCOMPARE(result.standardOutput, out);
        QCOMPARE(result.standardError, err);
    }

    void timeOutOrCancelKillsAndReapsTheChild_data() {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("time-out") << false;
        QTest::newRow("cancel") << true;
    }

    void timeOutOrCancelKillsAndReapsTheChild() {
        QFETCH(bool, cancel);
        SleepingChild child;
        QVERIFY(child.makeFifo());
        std::stop_source stop;
        auto task =
            runProcess("/bin/sh", child.arguments(), cancel ? 30s : 100ms, std::nullopt, stop.get_token());
        const pid_t pid = child.readPid();
        QVERIFY(pid > 0);
        if (cancel) {
            stop.request_stop();
            QVERIFY_THROWS_EXCEPTION(CancelledError, runSync(std::move(task)));
        } else {
            QVERIFY_THROWS_EXCEPTION(ProcessTimeoutError, runSync(std::move(task)));
        }
        QVERIFY(isGone(pid));
    }

    void missingProgramIsAStartError_data() {
        QTest::addColumn<QString>("program");
        QTest::newRow("absolute path") << "/nonexistent/idevice_id";
        QTest::newRow("not executable") << "/etc/hostname";
    }

    void missingProgramIsAStartError() {
        QFETCH(QString, program);
        try {
            runSync(runProcess(program, {"-l"}, 30s, std::nullopt, {}));
            QFAIL("started");
        } catch (const ProcessStartError& e) {
            QCOMPARE(e.program(), program);
        }
    }
};

QTEST_GUILESS_MAIN(tst_RunProcess)
#include "tst_RunProcess.moc"
