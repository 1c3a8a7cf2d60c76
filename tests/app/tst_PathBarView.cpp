// The path bar: segment titles for device and computer folders, and what a click reports,
// including a click whose segment is gone.

#include "app/PathBarView.h"
#include "uikit/PathControl.h"

#include <QApplication>
#include <QTest>
#include <QToolButton>

namespace {

// "afc:/DCIM/" is a folder of a device, "file:/home/" one of this computer.
QList<URL> urls(const QStringList& texts) {
    QList<URL> result;
    for (const QString& text : texts) {
        const QString path = text.section(u':', 1);
        result << (text.startsWith(u"afc:") ? URL::fromComponents("afc", "UDID", path)
                                            : URL::fileURL(path, true));
    }
    return result;
}

const QStringList devicePath{"afc:/", "afc:/DCIM/", "afc:/DCIM/100APPLE/"};

} // namespace

class tst_PathBarView : public QObject {
    Q_OBJECT

private slots:
    void titles_data() {
        QTest::addColumn<QStringList>("path");
        QTest::addColumn<QString>("rootName"); // null: none
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("device folders") << devicePath << "iPad" << QStringList{"iPad", "DCIM", "100APPLE"};
        QTest::newRow("device root without a name")
            << QStringList{"afc:/"} << QString() << QStringList{"Device"};
        QTest::newRow("this computer's root")
            << QStringList{"file:/", "file:/home/"} << "iPad" << QStringList{"/", "home"};
        QTest::newRow("nothing") << QStringList{} << "iPad" << QStringList{};
    }

    // Segment i stands for URL i; only the last is drawn strong.
    void titles() {
        QFETCH(QStringList, path);
        QFETCH(QString, rootName);
        QFETCH(QStringList, titles);
        PathBarView bar;
        bar.update(urls(path), rootName.isNull() ? std::nullopt : std::optional<QString>(rootName));
        QStringList shown;
        QList<URL> segmentURLs;
        for (const PathControl::Segment& segment : bar.pathControl()->segments()) {
            shown << segment.title;
            segmentURLs << segment.url;
        }
        QCOMPARE(shown, titles);
        QVERIFY(segmentURLs == urls(path));
        for (int i = 0; i < titles.size(); ++i) {
            auto* button = bar.findChild<QToolButton*>(QStringLiteral("pathSegment-%1").arg(i));
            QCOMPARE(button->font().weight(), i == titles.size() - 1 ? QFont::DemiBold : QFont::Normal);
        }
    }

    void clicks_data() {
        QTest::addColumn<int>("index"); // -2: the empty area beside the segments
        QTest::addColumn<QStringList>("reported");
        QTest::newRow("the root") << 0 << QStringList{"afc:/"};
        QTest::newRow("the folder shown") << 2 << QStringList{"afc:/DCIM/100APPLE/"};
        QTest::newRow("gone since drawn") << 3 << QStringList{};
        QTest::newRow("negative") << -1 << QStringList{};
        QTest::newRow("beside the segments") << -2 << QStringList{};
    }

    void clicks() {
        QFETCH(int, index);
        QFETCH(QStringList, reported);
        PathBarView bar;
        bar.resize(800, PathBarView::barHeight);
        bar.show();
        bar.update(urls(devicePath), QStringLiteral("iPad"));
        QList<URL> navigated;
        bar.onNavigate = [&navigated, &bar](const URL& url) {
            navigated << url;
            // The owner's navigation rebuilds the bar while the click is reported.
            bar.update({url}, QStringLiteral("iPad"));
        };
        if (index == -2) {
            QTest::mouseClick(bar.pathControl(), Qt::LeftButton, {},
                              QPoint(bar.pathControl()->width() - 2, bar.pathControl()->height() / 2));
        } else if (auto* button = bar.findChild<QToolButton*>(QStringLiteral("pathSegment-%1").arg(index))) {
            button->click();
        } else {
            bar.handleSegmentClick(index);
        }
        QVERIFY(navigated == urls(reported));
    }
};

QTEST_MAIN(tst_PathBarView)
#include "tst_PathBarView.moc"
