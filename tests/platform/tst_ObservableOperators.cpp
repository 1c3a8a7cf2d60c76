// Operators over published values. The time-based ones are driven by a manual timer source: each
// row is a script of assignments and clock steps, checked against the values that came out and
// when. What matters most is what a view would get wrong: a last value that never arrives (a
// progress panel that never hides), values let through too often, and timers or deliveries that
// outlive their subscription.

#include "EventLoop.h"
#include "platform/ManualUiTimerSource.h"
#include "platform/ObservableOperators.h"

#include <QtTest>

#include <memory>
#include <vector>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::vector<int>)

namespace {

enum class TimedOperator { debounce, throttleLatest };

Publisher<int> timed(TimedOperator op, Observable<int>& source, UiTimerSource& timers) {
    return op == TimedOperator::debounce ? debounce(source, timers) : throttleLatest(source, timers);
}

// "3 +40 4" assigns 3, advances the clock 40 ms, assigns 4; the log reads "time:value ...".
QString runScript(TimedOperator op, const QString& script) {
    ManualUiTimerSource timers;
    Observable<int> source(0);
    QStringList log;
    auto subscription = timed(op, source, timers).subscribe([&](const int& value) {
        log << QStringLiteral("%1:%2").arg(qint64(timers.now() / 1ms)).arg(value);
    });
    for (const QString& step : script.split(u' ', Qt::SkipEmptyParts)) {
        if (step.startsWith(u'+')) {
            timers.advance(std::chrono::milliseconds(step.mid(1).toInt()));
        } else {
            source = step.toInt();
        }
    }
    timers.advance(1s); // whatever is still due must come out
    return log.join(u' ');
}

void addTimedOperatorRows() {
    QTest::addColumn<TimedOperator>("op");
    QTest::newRow("debounce") << TimedOperator::debounce;
    QTest::newRow("throttleLatest") << TimedOperator::throttleLatest;
}

} // namespace

class tst_ObservableOperators : public QObject {
    Q_OBJECT

private slots:
    void timedOperatorsFollowTheirSchedule_data() {
        QTest::addColumn<TimedOperator>("op");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        const auto d = TimedOperator::debounce;
        const auto t = TimedOperator::throttleLatest;
        QTest::newRow("debounce: a burst restarts the wait, only its last value comes")
            << d << "+30 1 +30 2 +30 3"
            << "140:3";
        QTest::newRow("debounce: values apart by more than the wait each come") << d << "+60 1 +60 2"
                                                                                << "50:0 110:1 170:2";
        QTest::newRow("throttle: a steady stream gives one value per interval")
            << t << "+40 1 +40 2 +40 3 +40 4 +40 5"
            << "0:0 100:2 200:4 300:5";
    }

    void timedOperatorsFollowTheirSchedule() {
        QFETCH(TimedOperator, op);
        QFETCH(QString, script);
        QFETCH(QString, expected);
        QCOMPARE(runScript(op, script), expected);
    }

    // The progress panel hides on the empty list that ends a run of updates: however quickly the
    // lists come, the empty one must be the last thing the panel hears.
    void throttledListAlwaysEndsOnTheLastValue() {
        ManualUiTimerSource timers;
        Observable<QList<int>> transfers;
        QList<QList<int>> seen;
        auto subscription =
            throttleLatest(transfers, timers)
                .subscribe([&seen](const QList<int>& list) { seen << list; }, Delivery::Queued);
        for (int i = 1; i <= 20; ++i) {
            transfers = QList<int>(i, 7);
            timers.advance(7ms);
        }
        transfers = QList<int>();
        timers.advance(1s);
        drainPostedEvents();
        QVERIFY(seen.size() < 10);
        QCOMPARE(seen.first(), QList<int>());
        QCOMPARE(seen.last(), QList<int>());
        QCOMPARE(timers.pendingCount(), 0); // nothing left ticking once quiet
    }

    void endingSubscriptionCancelsItsTimer_data() {
        QTest::addColumn<TimedOperator>("op");
        QTest::addColumn<std::vector<int>>("expected");
        QTest::newRow("debounce") << TimedOperator::debounce << std::vector<int>{};
        QTest::newRow("throttleLatest: only the leading value")
            << TimedOperator::throttleLatest << std::vector<int>{1};
    }

    void endingSubscriptionCancelsItsTimer() {
        QFETCH(TimedOperator, op);
        QFETCH(std::vector<int>, expected);
        ManualUiTimerSource timers;
        Observable<int> source(0);
        std::vector<int> seen;
        auto subscription = timed(op, source, timers).subscribe([&seen](const int& v) { seen.push_back(v); });
        timers.advance(200ms);
        seen.clear();
        source = 1;
        source = 2;
        subscription.cancel();
        QCOMPARE(timers.pendingCount(), 0);
        source = 3;
        timers.advance(1s);
        QCOMPARE(seen, expected);
    }

    void handlerEndingItsSubscriptionStopsFurtherValues_data() { addTimedOperatorRows(); }

    void handlerEndingItsSubscriptionStopsFurtherValues() {
        QFETCH(TimedOperator, op);
        ManualUiTimerSource timers;
        Observable<int> source(0);
        int deliveries = 0;
        Subscription subscription;
        // The current value may come inside subscribe(), before the handle is assigned; the
        // handler ends the subscription on the first value after it.
        subscription = timed(op, source, timers).subscribe([&](const int& value) {
            ++deliveries;
            if (value != 0) {
                subscription.cancel();
            }
        });
        for (int i = 1; i <= 5; ++i) {
            timers.advance(60ms);
            source = i;
        }
        timers.advance(1s);
        QCOMPARE(deliveries, 2);
        QCOMPARE(timers.pendingCount(), 0);
    }

    // A value assigned from inside the handler must not overtake the interval: it is the
    // trailing value, delivered when the interval ends.
    void throttleHandlerAssigningWaitsForTheInterval() {
        ManualUiTimerSource timers;
        Observable<int> source(0);
        QStringList log;
        auto subscription = throttleLatest(source, timers).subscribe([&](const int& value) {
            log << QStringLiteral("%1:%2").arg(qint64(timers.now() / 1ms)).arg(value);
            if (value == 1) {
                source = 2;
            }
        });
        timers.advance(150ms);
        source = 1;
        timers.advance(1s);
        QCOMPARE(log.join(u' '), QStringLiteral("0:0 150:1 250:2"));
    }

    void valueOperators_data() {
        QTest::addColumn<QString>("pipeline");
        QTest::addColumn<int>("initial");
        QTest::addColumn<QList<int>>("assigned");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("map transforms the current value too")
            << "map" << 1 << QList<int>{2, 2} << QList<int>{10, 20, 20};
        QTest::newRow("filter holds back a current value that fails")
            << "filter" << 1 << QList<int>{3, 4} << QList<int>{4};
        QTest::newRow("removeDuplicates compares what map made")
            << "halvedDistinct" << 0 << QList<int>{1, 2, 3, 5} << QList<int>{0, 1, 2};
    }

    void valueOperators() {
        QFETCH(QString, pipeline);
        QFETCH(int, initial);
        QFETCH(QList<int>, assigned);
        QFETCH(QList<int>, expected);
        Observable<int> source(initial);
        auto even = [](int v) {
            return v % 2 == 0;
        };
        const Publisher<int> publisher = pipeline == u"map" ? map(source, [](int v) { return v * 10; })
                                         : pipeline == u"filter"
                                             ? filter(source, even)
                                             : removeDuplicates(map(source, [](int v) { return v / 2; }));
        QList<int> seen;
        auto subscription = publisher.subscribe([&seen](const int& v) { seen << v; });
        for (int value : assigned) {
            source = value;
        }
        QCOMPARE(seen, expected);
    }

    void combineLatestPairsTheNewestOfBoth() {
        Observable<int> count(1);
        Observable<QString> name(QStringLiteral("a"));
        QStringList seen;
        auto subscription = combineLatest(count, removeDuplicates(name))
                                .subscribe([&seen](const std::pair<int, QString>& pair) {
                                    seen << QString::number(pair.first) + pair.second;
                                });
        count = 2;
        name = QStringLiteral("b");
        name = QStringLiteral("b"); // dropped upstream, so no pair
        count = 2;                  // equal, but an assignment: the pair comes again
        subscription.cancel();
        count = 3;
        name = QStringLiteral("c");
        QCOMPARE(seen, (QStringList{"1a", "2a", "2b", "2b"}));
        QCOMPARE(count.subscriberCount(), 0);
        QCOMPARE(name.subscriberCount(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_ObservableOperators)
#include "tst_ObservableOperators.moc"
