// What reaches the desktop: files do, device locations never (they beep instead).

#include "uikit/Beep.h"
#include "uikit/Workspace.h"

#include <QTest>

class tst_Workspace : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // No file manager of the machine's may answer: a bus that is not there sends every reveal
        // to the opener below.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvanta-test-bus");
        Beep::setSoundForTesting(nullptr);
        Workspace::setOpenerForTesting([this](const URL& url) {
            opened << url.absoluteString();
            return desktopOpens;
        });
    }

    void open_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("handedOver");
        QTest::newRow("a file") << "file:///home/someone/Downloads/IMG_0001.JPG" << true;
        QTest::newRow("a web address") << "https://example.org/help" << true;
        QTest::newRow("a device file") << "afc://00008110-001A2B3C4D5E6F70/DCIM/IMG_0001.JPG" << false;
        QTest::newRow("an app's file")
            << "afc://00008110-001A2B3C4D5E6F70/.app/io.halvorn.tavolet/a.mov" << false;
    }

    void open() {
        QFETCH(QString, url);
        QFETCH(bool, handedOver);
        opened.clear();
        const int beeps = Beep::count();
        QCOMPARE(Workspace::open(*URL::fromString(url)), handedOver);
        QCOMPARE(opened, handedOver ? QStringList{url} : QStringList());
        QCOMPARE(Beep::count() - beeps, handedOver ? 0 : 1);
        // Revealing a device item hands nothing over either.
        if (!handedOver) {
            Workspace::reveal(*URL::fromString(url));
            QCOMPARE(opened, QStringList());
            QCOMPARE(Beep::count() - beeps, 2);
        }
    }

    // Nothing on the desktop takes the file: the caller hears of it, so that it can say so.
    void failuresReachTheCaller() {
        desktopOpens = false;
        const URL report = *URL::fromString(QStringLiteral("file:///home/someone/r.txt"));
        QVERIFY(!Workspace::open(report));
        int failed = 0;
        Workspace::reveal(report, [&failed] { ++failed; });
        QTRY_COMPARE(failed, 1);
        // A device location is refused at once, and said so too.
        Workspace::reveal(*URL::fromString(QStringLiteral("afc://00008110-001A2B3C4D5E6F70/Books/")),
                          [&failed] { ++failed; });
        QCOMPARE(failed, 2);
        desktopOpens = true;
    }

private:
    QStringList opened;
    bool desktopOpens = true;
};

QTEST_MAIN(tst_Workspace)
#include "tst_Workspace.moc"
