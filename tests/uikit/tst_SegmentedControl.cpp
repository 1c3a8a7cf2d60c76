// The segmented control reports the user's clicks only: the owner's selection is silent, so
// following a model cannot loop back into it; an index out of range selects no segment.

#include "uikit/SegmentedControl.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

class tst_SegmentedControl : public QObject {
    Q_OBJECT

private slots:
    // Steps: "c N" is the user's click, "s N" the owner's selection.
    void selection_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<int>>("selectedAfterEach");
        QTest::addColumn<QList<int>>("reported");
        QTest::newRow("click") << QStringList{"c 1"} << QList<int>{1} << QList<int>{1};
        QTest::newRow("owner is silent") << QStringList{"s 0", "s 2"} << QList<int>{0, 2} << QList<int>{};
        QTest::newRow("selected segment clicked again")
            << QStringList{"s 1", "c 1"} << QList<int>{1, 1} << QList<int>{1};
        QTest::newRow("out of range selects none, a click selects again")
            << QStringList{"c 2", "s 3", "s -1", "c 0"} << QList<int>{2, -1, -1, 0} << QList<int>{2, 0};
    }

    void selection() {
        QFETCH(QStringList, steps);
        QFETCH(QList<int>, selectedAfterEach);
        QFETCH(QList<int>, reported);
        SegmentedControl control(
            {{"square.grid.2x2", "Icons"}, {"list.bullet", "List"}, {"rectangle.split.3x1", "Columns"}});
        control.show();
        QList<int> clicks;
        connect(&control, &SegmentedControl::segmentClicked, this, [&clicks](int index) { clicks << index; });
        QList<int> selected;
        for (const QString& step : steps) {
            const int index = step.mid(2).toInt();
            if (step.startsWith(u'c'))
                QTest::mouseClick(control.button(index), Qt::LeftButton);
            else
                control.setSelectedSegment(index);
            selected << control.selectedSegment();
            int checked = 0;
            for (int i = 0; i < control.segmentCount(); ++i)
                checked += control.button(i)->isChecked() ? 1 : 0;
            QCOMPARE(checked, selected.last() >= 0 ? 1 : 0);
        }
        QCOMPARE(selected, selectedAfterEach);
        QCOMPARE(clicks, reported);
    }
};

QTEST_MAIN(tst_SegmentedControl)
#include "tst_SegmentedControl.moc"
