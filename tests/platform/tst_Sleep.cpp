// sleepFor must end early and promptly when its token is stopped, whichever thread stops it.

#include "platform/async/Cancellation.h"
#include "platform/async/RunSync.h"
#include "platform/async/Sleep.h"
#include "platform/async/SystemContinuousClock.h"
#include "platform/async/TimerInterval.h"

#include <QtTest>

#include <limits>
#include <thread>

using namespace async;
using namespace std::chrono_literals;

class tst_Sleep : public QObject {
    Q_OBJECT

private slots:

    void stopFromAnotherThreadEndsAnHourLongSleep() {
        std::stop_source source;
        auto task = sleepFor(1h, source.get_token());
        std::thread stopper([&source] { source.request_stop(); });
        stopper.join();
        QVERIFY_THROWS_EXCEPTION(CancelledError, runSync(std::move(task)));
    }

    void stoppedTokenThrowsWithoutSleeping() {
        std::stop_source source;
        source.request_stop();
        auto task = sleepFor(1h, source.get_token());
        QVERIFY(task.isReady());
        QVERIFY_THROWS_EXCEPTION(CancelledError, runSync(std::move(task)));
    }

    // QTimer takes an int of milliseconds: a longer duration must become the longest interval,
    // not wrap into one that fires at once or never, and a timer must never fire early.
    void timerIntervalIsClamped_data() {
        QTest::addColumn<qint64>("interval");
        QTest::addColumn<qint64>("expected");

        const qint64 longest = std::numeric_limits<int>::max();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("most negative")
            << qint64(timerInterval(std::chrono::hours::min()).count()) << qint64(0);
        QTest::newRow("a nanosecond rounds up") << qint64(timerInterval(1ns).count()) << qint64(1);
        QTest::newRow("just past longest")
            << qint64(timerInterval(std::chrono::milliseconds(longest) + 1ns).count()) << longest;
        QTest::newRow("real seconds, huge")
            << qint64(timerInterval(std::chrono::duration<double>(1e300)).count()) << longest;
        QTest::newRow("real seconds, NaN")
            << qint64(timerInterval(std::chrono::duration<double>(nan)).count()) << qint64(0);
    }

    void timerIntervalIsClamped() {
        QFETCH(qint64, interval);
        QTEST(interval, "expected");
    }
};

QTEST_GUILESS_MAIN(tst_Sleep)
#include "tst_Sleep.moc"
