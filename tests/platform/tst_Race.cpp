// race: the first task to end decides; the other is cancelled and has ended before race returns.
// Time comes from a ManualClock, so who wins is decided by the test, not by the machine.

#include "EventLoop.h"
#include "platform/async/Cancellation.h"
#include "platform/async/ManualClock.h"
#include "platform/async/Race.h"
#include "platform/async/RunSync.h"

#include <QtTest>

#include <memory>
#include <stdexcept>

using namespace async;
using namespace std::chrono_literals;

namespace {

struct Stalled : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Racer {
    bool cancelled = false;
    bool ended = false;
};

// Sleeps, then yields value or throws. When cancelled it takes one more second of clean-up
// before it ends, so that race has to wait for it.
Task<int> racer(ManualClock* clock, ContinuousClock::Duration delay, int value, bool throws,
                std::shared_ptr<Racer> record, std::stop_token token) {
    std::exception_ptr error;
    try {
        co_await clock->sleep(delay, token);
    } catch (const CancelledError&) {
        record->cancelled = true;
        error = std::current_exception();
    }
    if (error) {
        const std::stop_token uncancellable; // the clean-up itself is not cancelled
        co_await clock->sleep(1s, uncancellable);
        record->ended = true;
        std::rethrow_exception(error);
    }
    record->ended = true;
    if (throws) {
        throw Stalled("stalled");
    }
    co_return value;
}

// A racer for async::race: the closure only starts the coroutine, it is not one itself.
auto racing(ManualClock& clock, ContinuousClock::Duration delay, int value, std::shared_ptr<Racer> record,
            bool throws = false) {
    return [&clock, delay, value, record, throws](std::stop_token token) {
        return racer(&clock, delay, value, throws, record, token);
    };
}

} // namespace

class tst_Race : public QObject {
    Q_OBJECT

private slots:
    void firstToEndWinsAndLoserIsAwaited_data() {
        QTest::addColumn<int>("delayA");
        QTest::addColumn<int>("delayB");
        QTest::addColumn<bool>("aThrows");
        QTest::addColumn<int>("expected"); // -1: Stalled
        QTest::newRow("a wins") << 1 << 5 << false << 1;
        QTest::newRow("b wins") << 5 << 1 << false << 2;
        QTest::newRow("winner throws") << 1 << 5 << true << -1;
    }

    void firstToEndWinsAndLoserIsAwaited() {
        QFETCH(int, delayA);
        QFETCH(int, delayB);
        QFETCH(bool, aThrows);
        QFETCH(int, expected);
        ManualClock clock;
        auto a = std::make_shared<Racer>();
        auto b = std::make_shared<Racer>();
        auto race = async::race(racing(clock, std::chrono::seconds(delayA), 1, a, aThrows),
                                racing(clock, std::chrono::seconds(delayB), 2, b));

        clock.advance(1s); // the winner ends
        drainPostedEvents();
        const auto& loser = expected == 2 ? a : b;
        QVERIFY(loser->cancelled);
        QVERIFY(!loser->ended);
        QVERIFY(!race.isReady()); // still waiting for the loser's clean-up

        clock.advance(1s);
        QVERIFY(loser->ended);
        if (expected < 0) {
            QVERIFY_THROWS_EXCEPTION(Stalled, runSync(std::move(race)));
        } else {
            QCOMPARE(runSync(std::move(race)), expected);
        }
    }

    void stoppingTheRaceCancelsBoth() {
        ManualClock clock;
        auto a = std::make_shared<Racer>();
        auto b = std::make_shared<Racer>();
        std::stop_source stop;
        auto race = async::race(racing(clock, 5s, 1, a), racing(clock, 5s, 2, b), stop.get_token());
        stop.request_stop();
        drainPostedEvents();
        clock.advance(1s);
        QVERIFY_THROWS_EXCEPTION(CancelledError, runSync(std::move(race)));
        QVERIFY(a->cancelled && a->ended && b->cancelled && b->ended);
    }

    void racerThatThrowsInsteadOfReturningATaskLoses() {
        // The throwing racer ends first; the other, already running, is cancelled and awaited.
        ManualClock clock;
        auto a = std::make_shared<Racer>();
        auto broken = [](std::stop_token) -> Task<int> {
            throw Stalled("no task");
        };
        auto race = async::race(racing(clock, 5s, 1, a), broken);
        drainPostedEvents();
        clock.advance(1s);
        QVERIFY_THROWS_EXCEPTION(Stalled, runSync(std::move(race)));
        QVERIFY(a->cancelled && a->ended);
    }
};

QTEST_GUILESS_MAIN(tst_Race)
#include "tst_Race.moc"
