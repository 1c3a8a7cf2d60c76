// A continuation may be resumed from any thread, exactly once, and must never leave its waiter
// suspended for ever.

#include "platform/async/Continuation.h"
#include "platform/async/RunSync.h"

#include <QtTest>

#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

using namespace async;

namespace {

// Parks the continuation where the test can reach it, then awaits it.
Task<int> awaitParked(std::shared_ptr<std::optional<Continuation<int>>> slot) {
    auto park = [&slot](Continuation<int> continuation) {
        *slot = std::move(continuation);
    };
    const int value = co_await withContinuation<int>(park);
    co_return value;
}

struct Rejected : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace

class tst_Continuation : public QObject {
    Q_OBJECT

private slots:
    void resumesFromAnotherThread_data() {
        QTest::addColumn<bool>("withError");
        QTest::newRow("value") << false;
        QTest::newRow("exception") << true;
    }

    void resumesFromAnotherThread() {
        QFETCH(bool, withError);
        auto slot = std::make_shared<std::optional<Continuation<int>>>();
        auto task = awaitParked(slot);
        QVERIFY(slot->has_value());
        std::thread resumer([continuation = **slot, withError] {
            if (withError) {
                continuation.resumeThrowing(Rejected("no"));
            } else {
                continuation.resume(5);
            }
        });
        resumer.join();
        slot->reset();
        // Resumed on a worker thread, yet the coroutine has not run: it continues only when the
        // main loop picks up the posted wake-up.
        QVERIFY(!task.isReady());
        if (withError) {
            QVERIFY_THROWS_EXCEPTION(Rejected, runSync(std::move(task)));
        } else {
            QCOMPARE(runSync(std::move(task)), 5);
        }
    }

    // Whether the worker finished before or after the co_await must not change how the
    // coroutine continues: always later, from the main loop, after what was posted before.
    void resumedBeforeAwaitStillContinuesFromTheMainLoop() {
        auto order = std::make_shared<QStringList>();
        auto ready = [order](Continuation<int> continuation) {
            async::postToMain([order] { order->append(QStringLiteral("posted first")); });
            continuation.resume(9);
        };
        auto task = [](decltype(ready) start, std::shared_ptr<QStringList> order) -> Task<int> {
            const int value = co_await withContinuation<int>(start);
            order->append(QStringLiteral("resumed"));
            co_return value;
        }(ready, order);
        QVERIFY(!task.isReady());
        QCOMPARE(runSync(std::move(task)), 9);
        QCOMPARE(*order, (QStringList{QStringLiteral("posted first"), QStringLiteral("resumed")}));
    }

    void secondResumeIsLoggedAndIgnored() {
        auto slot = std::make_shared<std::optional<Continuation<int>>>();
        auto task = awaitParked(slot);
        (*slot)->resume(1);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("resumed more than once"));
        (*slot)->resume(2);
        QCOMPARE(runSync(std::move(task)), 1);
    }

    void abandonedContinuationCancelsItsWaiter() {
        auto slot = std::make_shared<std::optional<Continuation<int>>>();
        auto task = awaitParked(slot);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("destroyed without being resumed"));
        slot->reset();
        QVERIFY_THROWS_EXCEPTION(CancelledError, runSync(std::move(task)));
    }
};

QTEST_GUILESS_MAIN(tst_Continuation)
#include "tst_Continuation.moc"
