// What a folder copy from a device says about the children it could not take: each is a line of
// the report, as not copied, with the reason it was left out (a name that is not safe to use
// here, or a child the device would not describe), and the transfer does not end as a success.
// How the files of a folder made on a device take their names, on devices that make links and
// on devices that do not.

#include "transfer/FolderCopier.h"

#include "device/LeftoverJournal.h"
#include "transfer/TransferReportWriter.h"

#include "RequestCount.h"
#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>

using Side = TransferTestCase::Side;

namespace {
constexpr qint64 mib = 1 << 20;
}

class tst_FolderCopier : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init() { setUpTransfers(); }
    void cleanup() { tearDownTransfers(); }

    void skippedChildrenAreReportedWithTheirReason();
    void filesOfANewFolderAreNamedWithoutALookEach_data();
    void filesOfANewFolderAreNamedWithoutALookEach();
    void aCancelledFolderLeavesNothingOfItsOwn();
};

void tst_FolderCopier::skippedChildrenAreReportedWithTheirReason() {
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/Album/a.jpg"), "a"));
    QVERIFY(QDir().mkpath(m_mac + QStringLiteral("/dst")));
    // A name that would climb out of the folder, and one the device lists but cannot describe
    // (its bytes are no text, so the name asked about is not the one listed).
    m_device->faults().addHostileEntries("/src/Album", {"../escape", "bad\xff"});

    const Transfer done =
        transfer({item(Side::device, QStringLiteral("/src/Album"))}, location(Side::mac, QStringLiteral("/dst")));

    QCOMPARE(done.state, TransferState::failed);
    QCOMPARE(fileContents(m_mac + QStringLiteral("/dst/Album/a.jpg")), QByteArray("a"));
    QMap<QString, QString> details;
    for (const TransferReportEntry& entry : done.reportEntries)
        details.insert(entry.name(), entry.verificationDetail().value_or(QString()));
    QCOMPARE(details.size(), 3);
    QCOMPARE(details.value(QStringLiteral("../escape")), QStringLiteral("not copied: its name is not safe to use here"));
    const QString undescribed = QStringLiteral("bad\uFFFD");
    QVERIFY2(details.value(undescribed).startsWith(QStringLiteral("not copied: the device would not describe it (")),
             qPrintable(details.value(undescribed)));
    const QString report = TransferReportWriter::reportText(done);
    QVERIFY2(report.contains(QStringLiteral("- ../escape | ")) &&
                 report.contains(QStringLiteral(" | failed (not copied: its name is not safe to use here)")),
             qPrintable(report));
}

void tst_FolderCopier::filesOfANewFolderAreNamedWithoutALookEach_data() {
    QTest::addColumn<QString>("refused"); // the operation the device does not know
    QTest::newRow("the device makes links") << QString();
    QTest::newRow("the device makes no links") << "MAKE_LINK";
    QTest::newRow("the device removes no trees at once") << "REMOVE_PATH_AND_CONTENTS";
}

// A folder the transfer made holds nothing else, but another program may still write into it: each
// file takes its name by a link, which the device refuses on a taken name, instead of a look and a
// rename. The copies' own names go with their staging folder in one request.
void tst_FolderCopier::filesOfANewFolderAreNamedWithoutALookEach() {
    QFETCH(QString, refused);
    const QStringList names{"a.jpg", "b.jpg", "c.mov"};
    for (const QString& name : names)
        QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Album/") + name, name.toUtf8()));
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst")));
    if (!refused.isEmpty())
        m_device->faults().refuseOperation(refused.toStdString());
    emulator().log().clear();

    const Transfer done =
        transfer({item(Side::mac, QStringLiteral("/src/Album"))}, location(Side::device, QStringLiteral("/dst")));

    QCOMPARE(done.state, TransferState::completed);
    const QString album = m_media + QStringLiteral("/dst/Album");
    QCOMPARE(QDir(album).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), names);
    for (const QString& name : names) {
        QCOMPARE(fileContents(album + u'/' + name), name.toUtf8());
        // No second name is left anywhere.
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(album + u'/' + name).constData(), &st), 0);
        QCOMPARE(st.st_nlink, nlink_t(1));
    }
    const bool links = refused != QLatin1String("MAKE_LINK");
    // A device without links is asked once, then each file goes by look and rename.
    QCOMPARE(countAfcRequests("MAKE_LINK"), size_t(links ? names.size() : 1));
    QCOMPARE(countAfcRequests("RENAME_PATH"), size_t(links ? 0 : names.size()));
    for (const QString& name : names)
        QCOMPARE(countAfcRequests("GET_FILE_INFO", ("/dst/Album/" + name).toStdString()), size_t(links ? 0 : 1));
    QCOMPARE(LeftoverJournal::shared()->entries(), QList<LeftoverJournal::Entry>());
}

// The staging folder goes however the copy ends: cancelled while a file is written, the folder
// made stays, empty, and nothing hidden is left in it or in the journal.
void tst_FolderCopier::aCancelledFolderLeavesNothingOfItsOwn() {
    for (const QString& name : {QStringLiteral("a.bin"), QStringLiteral("b.bin"), QStringLiteral("c.bin")})
        QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Album/") + name, patternBytes(2 * mib)));
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst")));
    m_device->faults().stallWrites();

    const Transfer started =
        launched({item(Side::mac, QStringLiteral("/src/Album"))}, location(Side::device, QStringLiteral("/dst")));
    QVERIFY(writeStalled());
    m_manager->cancelTransfer(started.id);
    m_device->faults().releaseWrites();
    const Transfer done = finished(started.id);

    QCOMPARE(done.state, TransferState::cancelled);
    QCOMPARE(treeOf(m_media + QStringLiteral("/dst")), QStringList{"Album/"});
    QCOMPARE(LeftoverJournal::shared()->entries(), QList<LeftoverJournal::Entry>());
}

ORVANTA_DEVICE_TEST_MAIN(tst_FolderCopier)
#include "tst_FolderCopier.moc"
