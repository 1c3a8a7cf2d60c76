// The manual clock is what makes time-driven code testable without sleeping, so its own
// behaviour must be exact: wake order, the time seen by a woken sleeper, and a sleep as long as
// time itself.

#include "platform/async/Cancellation.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"

#include <QtTest>

#include <memory>
#include <vector>

using namespace async;
using namespace std::chrono_literals;

namespace {

struct Wake {
    int id;
    ContinuousClock::Instant at;
    bool operator==(const Wake&) const = default;
};

Task<void> sleepAndRecord(ManualClock* clock, ContinuousClock::Duration duration, int id,
                          std::shared_ptr<std::vector<Wake>> log) {
    // A named local: g++ 12 destroys a temporary built inside a co_await operand twice.
    const std::stop_token uncancellable;
    co_await clock->sleep(duration, uncancellable);
    log->push_back({id, clock->now()});
}

} // namespace

class tst_ManualClock : public QObject {
    Q_OBJECT

private slots:
    void wakesSleepersInDeadlineOrder() {
        ManualClock clock;
        auto log = std::make_shared<std::vector<Wake>>();
        auto c = sleepAndRecord(&clock, 3s, 3, log);
        auto a = sleepAndRecord(&clock, 1s, 1, log);
        auto b1 = sleepAndRecord(&clock, 2s, 21, log);
        auto b2 = sleepAndRecord(&clock, 2s, 22, log); // same deadline: in the order they slept
        auto late = sleepAndRecord(&clock, 10s, 10, log);

        clock.advance(1500ms);
        clock.advance(1500ms);
        const std::vector<Wake> expected{{1, 1s}, {21, 2s}, {22, 2s}, {3, 3s}};
        QCOMPARE(*log, expected);
        QCOMPARE(clock.now(), ContinuousClock::Instant(3s));
        QCOMPARE(clock.sleeperCount(), 1);
        QVERIFY(!late.isReady());
        clock.advance(7s);
        QVERIFY(late.isReady());
    }

    // A deadline that overflowed would lie in the past, and "for ever" would be over at once.
    void longestSleepEndsOnlyAtTheEndOfTime() {
        ManualClock clock(ContinuousClock::Instant(1s));
        auto log = std::make_shared<std::vector<Wake>>();
        auto endless = sleepAndRecord(&clock, ContinuousClock::Duration::max(), 1, log);
        clock.advance(24h * 365 * 100);
        QVERIFY(!endless.isReady());
        clock.advance(ContinuousClock::Duration::max());
        QVERIFY(endless.isReady());
        QCOMPARE(clock.now(), ContinuousClock::Instant::max());
    }
};

QTEST_GUILESS_MAIN(tst_ManualClock)
#include "tst_ManualClock.moc"
