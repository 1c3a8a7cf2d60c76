// spawn and TaskHandle: a spawned task runs to its end without being awaited, can be awaited
// later, keeps its callable alive, and does not fail silently.

#include "platform/async/Cancellation.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "platform/async/TaskHandle.h"

#include <QtTest>

#include <memory>
#include <stdexcept>

using namespace async;
using namespace std::chrono_literals;

class tst_TaskHandle : public QObject {
    Q_OBJECT

private slots:
    void capturedStateOutlivesTheCallersScope() {
        ManualClock clock;
        TaskHandle<QString> handle;
        {
            // The closure is a temporary of this scope; the task uses its capture after a
            // suspension, long after the scope is gone.
            QString name = QStringLiteral("DCIM");
            handle = spawn([name, &clock](std::stop_token token) -> Task<QString> {
                co_await clock.sleep(1s, token);
                co_return name + QStringLiteral("/100APPLE");
            });
        }
        QVERIFY(!handle.isFinished());
        clock.advance(1s);
        QVERIFY(handle.isFinished());
        QCOMPARE(runSync(handle.result()), QStringLiteral("DCIM/100APPLE"));
        QCOMPARE(runSync(handle.result()), QStringLiteral("DCIM/100APPLE")); // awaited twice
    }

    void onlyAnUnawaitedFailureIsLogged_data() {
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<bool>("awaited");
        QTest::addColumn<bool>("logged");
        QTest::newRow("failure") << false << false << true;
        QTest::newRow("cancellation") << true << false << false;
        QTest::newRow("awaited failure") << false << true << false;
    }

    void onlyAnUnawaitedFailureIsLogged() {
        QFETCH(bool, cancelled);
        QFETCH(bool, awaited);
        QFETCH(bool, logged);
        ManualClock clock;
        if (logged) {
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression("spawned task failed and nobody awaited it: device gone"));
        } else {
            QTest::failOnWarning(QRegularExpression("spawned task failed"));
        }
        auto handle = spawn([&clock, cancelled](std::stop_token token) -> Task<int> {
            co_await clock.sleep(1s, token);
            if (cancelled) {
                throw CancelledError{};
            }
            throw std::runtime_error("device gone");
        });
        if (awaited) {
            clock.advance(1s);
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, runSync(handle.result()));
        } else {
            handle = {};
            clock.advance(1s); // the task fails with nobody holding its handle
        }
    }

    void callableThatThrowsInsteadOfReturningATaskFailsTheTask() {
        auto handle = spawn([](std::stop_token) -> Task<int> { throw std::invalid_argument("bad udid"); });
        QVERIFY(handle.isFinished());
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, runSync(handle.result()));
    }

    // Quitting stops what runs and starts nothing new: a task that would start afterwards, from a
    // late answer of a device, for one, is never called and reads as cancelled.
    void shutdownCancelsWhatRunsAndStartsNothing() {
        ManualClock clock;
        auto sleeper = [&clock](std::stop_token token) -> Task<int> {
            co_await clock.sleep(1h, token);
            co_return 1;
        };
        const TaskHandle<int> running = spawn(sleeper);
        const TaskHandle<int> stopped = spawn(sleeper);
        stopped.cancel();
        QTRY_VERIFY(stopped.isFinished());
        QVERIFY(!running.isFinished());

        // Undone however the test ends: a failed check must not leave later cases shut down.
        struct ShutdownUndone {
            ~ShutdownUndone() { detail::shutdownBegun = false; }
        } undone;
        beginShutdown();
        QVERIFY(isShuttingDown());
        QTRY_VERIFY(running.isFinished());
        QVERIFY_THROWS_EXCEPTION(CancelledError, runSync(running.result()));
        bool called = false;
        const TaskHandle<int> late = spawn([&called](std::stop_token) -> Task<int> {
            called = true;
            co_return 2;
        });
        QVERIFY(!called);
        QVERIFY(late.isFinished() && late.isCancelled());
        QVERIFY_THROWS_EXCEPTION(CancelledError, runSync(late.result()));
        QCOMPARE(spawnedTasksRunning(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_TaskHandle)
#include "tst_TaskHandle.moc"
