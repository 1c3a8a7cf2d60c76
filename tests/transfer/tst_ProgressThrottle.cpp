#include "transfer/ProgressThrottle.h"

#include "platform/async/ManualClock.h"
#include "platform/async/TaskHandle.h"

#include "EventLoop.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {

struct Offer {
    int atMs;
    quint64 value;
};

} // namespace

Q_DECLARE_METATYPE(QList<Offer>)

// At most one value per transfer every tenth of a second; the first always passes, and each
// transfer is throttled on its own.
class tst_ProgressThrottle : public QObject {
    Q_OBJECT

private slots:
    void admits_data() {
        QTest::addColumn<QList<int>>("offsets"); // milliseconds after the first value
        QTest::addColumn<QList<bool>>("admitted");
        QTest::newRow("just under") << QList<int>{0, 99} << QList<bool>{true, false};
        QTest::newRow("100 ms apart") << QList<int>{0, 100} << QList<bool>{true, true};
        QTest::newRow("a dropped value does not restart the wait")
            << QList<int>{0, 60, 100, 150, 200} << QList<bool>{true, false, true, false, true};
    }

    void admits() {
        QFETCH(QList<int>, offsets);
        QFETCH(QList<bool>, admitted);
        async::ManualClock clock;
        ProgressThrottle throttle(clock);
        const QUuid id = QUuid::createUuid();
        int now = 0;
        QList<bool> results;
        for (int offset : offsets) {
            clock.advance(std::chrono::milliseconds(offset - now));
            now = offset;
            results.append(throttle.admit(id));
        }
        QCOMPARE(results, admitted);
    }

    void transfersAreThrottledApartAndForgotten() {
        async::ManualClock clock;
        ProgressThrottle throttle(clock);
        const QUuid first = QUuid::createUuid();
        const QUuid second = QUuid::createUuid();
        QVERIFY(throttle.admit(first));
        QVERIFY(throttle.admit(second));
        QVERIFY(!throttle.admit(first));
        throttle.forget(first);
        QVERIFY(throttle.admit(first));
        clock.advance(10ms);
        throttle.markFlushed(second);
        clock.advance(95ms);
        QVERIFY(!throttle.admit(second));
    }

    void keepsTheLastValueForLater_data() {
        QTest::addColumn<QList<Offer>>("offers");
        QTest::addColumn<int>("endMs");
        QTest::addColumn<QStringList>("writes"); // "value@ms"
        QTest::newRow("a burst, then silence")
            << QList<Offer>{{0, 1}, {10, 2}, {30, 3}} << 500 << QStringList{"1@0", "3@100"};
        QTest::newRow("not before the interval has passed")
            << QList<Offer>{{0, 1}, {10, 2}} << 99 << QStringList{"1@0"};
        QTest::newRow("a steady flow writes once an interval")
            << QList<Offer>{{0, 1}, {60, 2}, {120, 3}, {180, 4}, {240, 5}} << 240
            << QStringList{"1@0", "2@100", "4@200"};
        QTest::newRow("a value after a quiet interval is written at once")
            << QList<Offer>{{0, 1}, {250, 2}} << 400 << QStringList{"1@0", "2@250"};
        QTest::newRow("dropped once written: nothing twice")
            << QList<Offer>{{0, 1}, {50, 2}, {400, 3}} << 1000 << QStringList{"1@0", "2@100", "3@400"};
    }

    // A value that comes too soon waits, the newest in place of the older ones, and is written
    // once the interval since the last write has passed: the last value of a burst always shows,
    // and still no more than one value an interval.
    void keepsTheLastValueForLater() {
        QFETCH(QList<Offer>, offers);
        QFETCH(int, endMs);
        QFETCH(QStringList, writes);
        async::ManualClock clock;
        QStringList written;
        ProgressThrottle throttle(clock, [&](const QUuid&, quint64 value) {
            written << QStringLiteral("%1@%2").arg(value).arg(
                std::chrono::duration_cast<std::chrono::milliseconds>(clock.now()).count());
        });
        const QUuid id = QUuid::createUuid();
        int now = 0;
        for (const Offer& offer : offers) {
            clock.advance(std::chrono::milliseconds(offer.atMs - now));
            now = offer.atMs;
            throttle.offer(id, offer.value);
        }
        clock.advance(std::chrono::milliseconds(endMs - now));
        QCOMPARE(written, writes);
    }

    void keptValueGoesWithItsTransfer_data() {
        QTest::addColumn<QString>("end");
        QTest::newRow("transfer forgotten") << "forget";
        QTest::newRow("a newer total written past the throttle") << "drop";
        QTest::newRow("throttle destroyed") << "destroy";
    }

    // A value still waiting when its transfer ends, or when something newer was written past the
    // throttle, is never written; nothing is left waiting on the clock.
    void keptValueGoesWithItsTransfer() {
        QFETCH(QString, end);
        // Waits of the tests before, cancelled with their throttles, end first.
        drainPostedEvents();
        const int tasksBefore = async::spawnedTasksRunning();
        async::ManualClock clock;
        int writes = 0;
        auto throttle = std::make_unique<ProgressThrottle>(clock, [&](const QUuid&, quint64) { ++writes; });
        const QUuid id = QUuid::createUuid();
        const QUuid other = QUuid::createUuid();
        throttle->offer(id, 1);
        throttle->offer(other, 1);
        clock.advance(10ms);
        throttle->offer(id, 2);
        throttle->offer(other, 2);
        QVERIFY(throttle->hasKept(id));
        if (end == u"forget")
            throttle->forget(id);
        else if (end == u"drop")
            throttle->dropKept(id);
        else
            throttle.reset();
        drainPostedEvents();
        clock.advance(1s);
        // The other transfer's value is written still, unless the throttle went.
        QCOMPARE(writes, end == u"destroy" ? 2 : 3);
        QCOMPARE(async::spawnedTasksRunning(), tasksBefore);
    }
};

QTEST_GUILESS_MAIN(tst_ProgressThrottle)
#include "tst_ProgressThrottle.moc"
