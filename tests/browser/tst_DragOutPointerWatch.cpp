// The pointer of a running drag, polled against our windows: the copies start on the first poll
// that finds it outside, once, and the polling ends there. Where the pointer is comes from the
// mouse events the window system delivered, not from a question to it.

#include "browser/DragOutPointerWatch.h"

#include "platform/ManualUiTimerSource.h"

#include <QTest>
#include <QWidget>

class tst_DragOutPointerWatch : public QObject {
    Q_OBJECT

private slots:
    void startsOnTheFirstPollOutside_data();
    void startsOnTheFirstPollOutside();
    void followsTheLastReportedMotion_data();
    void followsTheLastReportedMotion();
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

void tst_DragOutPointerWatch::followsTheLastReportedMotion_data() {
    QTest::addColumn<QList<QPoint>>("motions"); // in the window's coordinates, one per poll
    QTest::addColumn<int>("leftAtPoll");        // 0: never

    QTest::newRow("stays over the window") << QList<QPoint>{{10, 10}, {150, 90}, {1, 1}} << 0;
    QTest::newRow("leaves on the second motion") << QList<QPoint>{{10, 10}, {-40, 20}, {10, 10}} << 2;
    QTest::newRow("leaves past a corner") << QList<QPoint>{{199, 199}, {-3, -3}} << 2;
}

// The drag's motions reach the application as mouse events however they are taken in: the
// watch reads the last one's position. On X11 the alternative, QCursor::pos(), is a round trip to
// the server on every poll, made while the drag holds the pointer.
void tst_DragOutPointerWatch::followsTheLastReportedMotion() {
    QFETCH(QList<QPoint>, motions);
    QFETCH(int, leftAtPoll);

    QWidget window;
    window.setGeometry(300, 200, 200, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseMove(window.windowHandle(), motions.front());

    ManualUiTimerSource timers;
    int leftAt = 0;
    int polls = 0;
    DragOutPointerWatch watch(timers, [&] { leftAt = polls; });
    for (const QPoint& motion : motions) {
        QTest::mouseMove(window.windowHandle(), motion);
        ++polls;
        timers.advance(DragOutPointerWatch::interval);
    }
    QCOMPARE(leftAt, leftAtPoll);
    QCOMPARE(watch.hasLeft(), leftAtPoll > 0);
}

QTEST_MAIN(tst_DragOutPointerWatch)
#include "tst_DragOutPointerWatch.moc"
