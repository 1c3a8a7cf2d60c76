// sleepFor must end early and promptly when its token is stopped, whichever thread stops it.

#include "platform/async/Cancellation.h"
#include "platform/async/RunSync.h"
#include "platform/async/Sleep.h"
#include "platform/async/SystemContinuousClock.h"

#include <QtTest>

#include <thread>

using namespace async;
using namespace std::chrono_literals;

class TestSleep : public QObject {
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
};

QTEST_GUILESS_MAIN(TestSleep)
#include "tst_Sleep.moc"
