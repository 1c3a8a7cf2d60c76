// The pointer of a running drag, polled against our windows: the copies start on the first poll
// that finds it outside, once, and the polling ends there.

#include "browser/DragOutPointerWatch.h"

#include "platform/ManualUiTimerSource.h"

#include <QTest>

class tst_DragOutPointerWatch : public QObject {
    Q_OBJECT

private slots:
    void startsOnTheFirstPollOutside_data();
    void startsOnTheFirstPollOutside();
};

void tst_DragOutPointerWatch::startsOnTheFirstPollOutside_data() {
    QTest::addColumn<QList<bool>>("insideByPoll");
    QTest::addColumn<int>("leftAtPoll"); // 0: never

    QTest::newRow("outside at once") << QList<bool>{false} << 1;
    QTest::newRow("leaves on the third poll") << QList<bool>{true, true, false, true, false} << 3;
    QTest::newRow("stays inside") << QList<bool>{true, true, true, true, true, true, true, true} << 0;
}

void tst_DragOutPointerWatch::startsOnTheFirstPollOutside() {
    QFETCH(QList<bool>, insideByPoll);
    QFETCH(int, leftAtPoll);

    ManualUiTimerSource timers;
    int polls = 0;
    QList<int> startedAt;
    DragOutPointerWatch watch(
        timers, [&] { startedAt.append(polls); }, [&] { return QPoint(polls, 0); },
        [&](QPoint point) {
            ++polls;
            return insideByPoll.value(point.x(), true);
        });
    timers.advance(DragOutPointerWatch::interval * 6);
    QCOMPARE(startedAt, leftAtPoll ? QList<int>{leftAtPoll} : QList<int>{});
    QCOMPARE(watch.hasLeft(), leftAtPoll > 0);
    QCOMPARE(polls, leftAtPoll ? leftAtPoll : 6);
    QCOMPARE(timers.pendingCount(), leftAtPoll ? 0 : 1);
}

QTEST_GUILESS_MAIN(tst_DragOutPointerWatch)
#include "tst_DragOutPointerWatch.moc"
