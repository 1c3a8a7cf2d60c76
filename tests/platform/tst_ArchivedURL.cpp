#include "platform/ArchivedURL.h"
#include "platform/PropertyList.h"

#include <QTest>

class tst_ArchivedURL : public QObject {
    Q_OBJECT

private slots:
    void roundTrips_data() {
        QTest::addColumn<URL>("url");
        QTest::newRow("downloads") << URL::fileURL(QStringLiteral("/home/me/Downloads"), true);
        QTest::newRow("missing folder with space")
            << URL::fileURL(QStringLiteral("/Volumes/My Photos/ü#1"), true);
        QTest::newRow("device folder") << URL::fromComponents("afc", "00008110-001A2B3C4D5E6F70", "/DCIM/");
    }

    void roundTrips() {
        QFETCH(URL, url);
        const QByteArray archive = archiveURL(url);
        QVERIFY(archive.startsWith("bplist00"));
        QCOMPARE(unarchiveURL(archive), url);
    }

    void refusesOtherData_data() {
        QTest::addColumn<QByteArray>("data");

        QTest::newRow("garbage") << QByteArray("not a keyed archive");
        QTest::newRow("truncated archive") << archiveURL(*URL::fromString("file:///a/")).chopped(5);
        QTest::newRow("URL of wrong type") << *PropertyList::toBinary(
            QVariantMap{{"$archiver", "OrvantaURLArchiver"}, {"URL", QByteArray("file:///a/")}});
    }

    void refusesOtherData() {
        QFETCH(QByteArray, data);
        QVERIFY(!unarchiveURL(data));
    }
};

QTEST_GUILESS_MAIN(tst_ArchivedURL)
#include "tst_ArchivedURL.moc"
