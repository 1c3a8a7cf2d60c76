#include "transfer/ProgressThrottle.h"

#include "platform/async/ManualClock.h"

#include <QTest>

using namespace std::chrono_literals;

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
};

QTEST_GUILESS_MAIN(tst_ProgressThrottle)
#include "tst_ProgressThrottle.moc"
