// What a folder copy from a device says about the children it could not take: each is a line of
// the report, as not copied, with the reason it was left out (a name that is not safe to use
// here, or a child the device would not describe), and the transfer does not end as a success.

#include "transfer/FolderCopier.h"

#include "transfer/TransferReportWriter.h"

#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QDir>
#include <QTest>

using Side = TransferTestCase::Side;

class tst_FolderCopier : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init() { setUpTransfers(); }
    void cleanup() { tearDownTransfers(); }

    void skippedChildrenAreReportedWithTheirReason();
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

ORVANTA_DEVICE_TEST_MAIN(tst_FolderCopier)
#include "tst_FolderCopier.moc"
