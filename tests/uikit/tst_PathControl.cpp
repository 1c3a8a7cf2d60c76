// The path control: the segments a folder makes, which of them stay when room is short, and what
// a click reports.

#include "uikit/PathControl.h"

#include <QApplication>
#include <QTest>
#include <QToolButton>

class tst_PathControl : public QObject {
    Q_OBJECT

private slots:
    void segments_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QString>("lastURL");
        QTest::newRow("nested") << "/home/ana" << QStringList{"/", "home", "ana"} << "file:///home/ana/";
        QTest::newRow("root") << "/" << QStringList{"/"} << "file:///";
        QTest::newRow("odd characters")
            << "/a b/50%" << QStringList{"/", "a b", "50%"} << "file:///a%20b/50%25/";
    }

    void segments() {
        QFETCH(QString, path);
        QFETCH(QStringList, titles);
        QFETCH(QString, lastURL);
        PathControl control;
        control.setURL(URL::fileURL(path, true));
        QStringList shown;
        for (const PathControl::Segment& segment : control.segments())
            shown << segment.title;
        QCOMPARE(shown, titles);
        QCOMPARE(control.segments().last().url.absoluteString(), lastURL);
        QCOMPARE(control.toolTip(), path);
    }

    // Short of room, the leading segments go and the folder itself stays; a segment's click
    // reports that segment, one beside them reports the control's folder, and both count as a
    // click on the control.
    void narrowControlKeepsTheFolderAndReportsClicks() {
        PathControl control;
        control.setFixedWidth(90);
        control.setURL(URL::fileURL(QStringLiteral("/home/somebody/rather/long/Downloads"), true));
        control.show();
        QVERIFY(control.visibleSegmentCount() < control.segments().size());
        auto* last = control.findChild<QToolButton*>(QStringLiteral("pathSegment-5"));
        QVERIFY(last && last->isVisibleTo(&control));

        QStringList reported;
        int clicks = 0;
        control.onSegmentClicked = [&](int index, const URL& url) {
            reported << QStringLiteral("%1 %2").arg(index).arg(url.absoluteString());
        };
        control.onClick = [&] {
            ++clicks;
        };
        control.findChild<QToolButton*>(QStringLiteral("pathSegment-1"))->click();
        QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(control.width() - 2, control.height() / 2));
        QCOMPARE(reported,
                 (QStringList{"1 file:///home/", "-1 file:///home/somebody/rather/long/Downloads/"}));
        QCOMPARE(clicks, 2);
    }
};

QTEST_MAIN(tst_PathControl)
#include "tst_PathControl.moc"
