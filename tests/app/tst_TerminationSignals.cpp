// SIGINT, SIGTERM and SIGHUP: taken by whichever loop the main thread runs, nested ones included,
// which quits once and lifts the deadline; and when the main thread cannot get to a loop, the
// signal still ends the process, after the grace or at a second signal. The blocked main thread
// is a child process stuck in a read that never returns.

#include "app/TerminationSignals.h"

#include <QEventLoop>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Limits only keep a broken run from hanging the test; nothing waits for time to pass.
constexpr int limitMs = 30000;

// A process that installs the handlers and then blocks for good in a read, as a main thread stuck
// on the window system would, never reaching its loop. Returns once the handlers are in place.
pid_t startBlockedChild(std::chrono::seconds grace) {
    int ready[2] = {-1, -1};
    int never[2] = {-1, -1};
    if (::pipe(ready) != 0 || ::pipe(never) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        if (!TerminationSignals::installHandlers(grace))
            ::_exit(90);
        const char byte = 1;
        if (::write(ready[1], &byte, 1) != 1)
            ::_exit(91);
        char unread = 0;
        for (;;) {
            if (::read(never[0], &unread, 1) == 0)
                ::_exit(92);
        }
    }
    ::close(ready[1]);
    char byte = 0;
    const bool started = child > 0 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    ::close(never[0]);
    // The write end stays open in this process: the child's read never ends by itself.
    return started ? child : -1;
}

// Whether signal waits to be delivered to the process: two sent before the first is delivered
// would arrive as one.
bool isPending(pid_t process, int signal) {
    QFile status(QStringLiteral("/proc/%1/status").arg(process));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("ShdPnd:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    }
    return false;
}

} // namespace

class tst_TerminationSignals : public QObject {
    Q_OBJECT

private slots:
    void endsAProcessWhoseLoopIsOutOfReach_data();
    void endsAProcessWhoseLoopIsOutOfReach();
    // Last: it installs the handlers in this process.
    void isTakenByANestedLoop();
};

void tst_TerminationSignals::endsAProcessWhoseLoopIsOutOfReach_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("sent");
    QTest::addColumn<qint64>("graceSeconds");

    QTest::newRow("SIGTERM, after the grace") << SIGTERM << 1 << qint64(1);
    QTest::newRow("SIGINT, after the grace") << SIGINT << 1 << qint64(1);
    // A grace far beyond the limit: only the second signal can have ended it.
    QTest::newRow("SIGTERM twice, at the second") << SIGTERM << 2 << qint64(3600);
}

void tst_TerminationSignals::endsAProcessWhoseLoopIsOutOfReach() {
    QFETCH(int, signal);
    QFETCH(int, sent);
    QFETCH(qint64, graceSeconds);

    const pid_t child = startBlockedChild(std::chrono::seconds(graceSeconds));
    QVERIFY(child > 0);
    for (int time = 0; time < sent; ++time) {
        QVERIFY(QTest::qWaitFor([&] { return !isPending(child, signal); }, limitMs));
        QCOMPARE(::kill(child, signal), 0);
    }
    int status = 0;
    const auto ended = [&] {
        return ::waitpid(child, &status, WNOHANG) == child;
    };
    const bool endedInTime = QTest::qWaitFor(ended, limitMs);
    if (!endedInTime) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    QVERIFY2(endedInTime, "the signal left the blocked process running");
    // Ended as the signal ends a process that has no handler for it.
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(WTERMSIG(status), signal);
}

void tst_TerminationSignals::isTakenByANestedLoop() {
    QObject owner;
    QEventLoop drag; // stands for a drag's loop, run while the main loop waits below it
    int quits = 0;
    QVERIFY(TerminationSignals::quitOnTerminationSignals(
        &owner,
        [&] {
            ++quits;
            drag.exit(0);
        },
        3600s));
    QTimer::singleShot(0, [] { ::raise(SIGTERM); });
    QTimer::singleShot(limitMs, &drag, [&drag] { drag.exit(1); });
    QCOMPARE(drag.exec(), 0);
    QCOMPARE(quits, 1);
    // The deadline is lifted: the orderly quit has bounds of its own.
    QCOMPARE(::alarm(0), 0u);
    QCoreApplication::processEvents();
    QCOMPARE(quits, 1);
}

QTEST_GUILESS_MAIN(tst_TerminationSignals)
#include "tst_TerminationSignals.moc"
