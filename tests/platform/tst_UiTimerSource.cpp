// The timer sources behind every interface delay. The manual one must fire in a well-defined
// order, also when timers start or cancel timers; the system one must fire once, never after its
// handle ended, and tolerate a handle ended from inside its own callback.

#include "platform/ManualUiTimerSource.h"

#include <QtTest>

#include <memory>
#include <thread>

using namespace std::chrono_literals;

class tst_UiTimerSource : public QObject {
    Q_OBJECT

private slots:
    // First of all: the system source is made by whoever asks first, here a worker thread (a
    // device job arming the grace of a cancel), and its timers still fire on the main thread.
    void systemSourceFirstAskedOnAWorkerFiresOnTheMainThread() {
        std::thread([] { UiTimerSource::system(); }).join();
        bool fired = false;
        auto timer = UiTimerSource::system().singleShot(
            1ms, [&] { fired = QThread::currentThread() == QCoreApplication::instance()->thread(); });
        QTRY_VERIFY(fired);
    }

    void manualSourceFiresInDeadlineThenStartOrder() {
        ManualUiTimerSource timers;
        QStringList log;
        auto record = [&](const QString& name) {
            return [&log, &timers, name] {
                log << QStringLiteral("%1@%2").arg(name).arg(qint64(timers.now() / 1ms));
            };
        };
        std::vector<Subscription> handles;
        handles.push_back(timers.singleShot(20ms, record("b")));
        handles.push_back(timers.singleShot(10ms, record("a")));
        handles.push_back(timers.singleShot(20ms, record("c"))); // same deadline as b, started later
        handles.push_back(timers.singleShot(-5ms, record("now")));
        auto cancelled = timers.singleShot(15ms, record("cancelled"));
        // A timer started by a firing one fires in the same advance when it falls due.
        handles.push_back(timers.singleShot(25ms, [&] {
            log << QStringLiteral("chain@25");
            handles.push_back(timers.singleShot(5ms, record("chained")));
            handles.push_back(timers.singleShot(100ms, record("tooLate")));
        }));
        cancelled.cancel();
        QVERIFY(log.isEmpty()); // nothing fires inside singleShot
        timers.advance(40ms);
        QCOMPARE(log, (QStringList{"now@0", "a@10", "b@20", "c@20", "chain@25", "chained@30"}));
        QCOMPARE(timers.now(), std::chrono::nanoseconds(40ms));
        QCOMPARE(timers.pendingCount(), 1);
    }

    void systemSourceFiresOnceAndNeverAfterItsHandleEnded() {
        auto& timers = UiTimerSource::system();
        int fired = 0;
        int cancelledFired = 0;
        Subscription self;
        self = timers.singleShot(1ms, [&] {
            ++fired;
            self.cancel(); // ending its own handle from inside must be harmless
        });
        auto cancelled = timers.singleShot(0ms, [&] { ++cancelledFired; });
        cancelled.cancel();
        const auto start = timers.now();
        QTRY_COMPARE(fired, 1);
        QVERIFY(timers.now() - start >= 1ms);
        // One more timer after both, so the loop has had every chance to misfire.
        bool later = false;
        auto after = timers.singleShot(2ms, [&] { later = true; });
        QTRY_VERIFY(later);
        QCOMPARE(fired, 1);
        QCOMPARE(cancelledFired, 0);
    }
};

QTEST_GUILESS_MAIN(tst_UiTimerSource)
#include "tst_UiTimerSource.moc"
