#include "models/TransferReportEntry.h"

#include <QTest>

// A report line keeps its two locations as text: every URL the engine makes must come back from
// the line exactly, or a move would delete, or a report name, the wrong file.
class tst_TransferReportEntry : public QObject {
    Q_OBJECT

private slots:
    void locationsComeBackExactly_data() {
        QTest::addColumn<URL>("source");
        QTest::addColumn<URL>("destination");
        QTest::newRow("photos from a device")
            << URL::fromComponents(QStringLiteral("afc"), QStringLiteral("00008110-00BE4C4B0000002A"),
                                   QStringLiteral("/DCIM/100APPLE/IMG_0001.JPG"))
            << URL::fileURL(QStringLiteral("/home/me/Downloads/IMG_0001.JPG"));
        QTest::newRow("names to encode")
            << URL::fileURL(QStringLiteral("/a b/100% #1?.txt"))
            << URL::fromComponents(QStringLiteral("afc"), QStringLiteral("ABCDEF"),
                                   QStringLiteral("/Été/x;y=z/ファイル.heic"));
        QTest::newRow("a folder") << URL::fileURL(QStringLiteral("/src/Album"), true)
                                  << URL::fromComponents(
                                         QStringLiteral("afc"), QStringLiteral("ABCDEF"),
                                         QStringLiteral("/.app/com.example/Documents/Album/"));
    }

    void locationsComeBackExactly() {
        QFETCH(URL, source);
        QFETCH(URL, destination);
        const TransferReportEntry entry(destination.lastPathComponent(), source, destination, 7, Date(1),
                                        Date(2), TransferVerificationOutcome::verified, std::nullopt);
        QCOMPARE(entry.sourceURL(), source);
        QCOMPARE(entry.destinationURL(), destination);
        QCOMPARE(entry.sourceURL().path(), source.path());
        QCOMPARE(entry.destinationURL().host(), destination.host());
        QCOMPARE(entry.destinationURLString(), destination.absoluteString());
        // Equal lines hash alike, and a line for another place is another line.
        const TransferReportEntry same(entry);
        QCOMPARE(same, entry);
        QCOMPARE(qHash(same), qHash(entry));
        const TransferReportEntry elsewhere(entry.name(), destination, source, 7, Date(1), Date(2),
                                            TransferVerificationOutcome::verified, std::nullopt);
        QVERIFY(!(elsewhere == entry));
    }
};

QTEST_GUILESS_MAIN(tst_TransferReportEntry)
#include "tst_TransferReportEntry.moc"
