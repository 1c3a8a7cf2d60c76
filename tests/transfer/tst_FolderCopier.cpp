// What a folder copy from a device says about the children it could not take: each is a line of
// the report, as not copied, with the reason it was left out (a name that is not safe to use
// here, or a child the device would not describe), and the transfer does not end as a success.
// How the files of a folder made on a device take their names, on devices that make links and
// on devices that do not.

#include "transfer/FolderCopier.h"

#include "device/AFCLocation.h"
#include "device/LeftoverJournal.h"
#include "platform/async/RunSync.h"
#include "services/PreferencesViewController.h"
#include "transfer/TransferReportWriter.h"

#include "EventLoop.h"

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
    void anotherCopyIntoTheNewFolderIsLeftAlone_data();
    void anotherCopyIntoTheNewFolderIsLeftAlone();
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
// rename. The copies' own names go with their staging folder in one request. Once the device
// would not link, the transfer's later folders make no staging folder.
void tst_FolderCopier::filesOfANewFolderAreNamedWithoutALookEach() {
    QFETCH(QString, refused);
    const QMap<QString, QStringList> folders{{"Album", {"a.jpg", "b.jpg", "c.mov"}}, {"Trip", {"d.jpg", "e.jpg"}}};
    for (auto it = folders.cbegin(); it != folders.cend(); ++it) {
        for (const QString& name : it.value())
            QVERIFY(writeTestFile(m_mac + "/src/" + it.key() + u'/' + name, name.toUtf8()));
    }
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst")));
    if (!refused.isEmpty())
        m_device->faults().refuseOperation(refused.toStdString());
    emulator().log().clear();

    const Transfer done =
        transfer({item(Side::mac, QStringLiteral("/src/Album")), item(Side::mac, QStringLiteral("/src/Trip"))},
                 location(Side::device, QStringLiteral("/dst")));

    QCOMPARE(done.state, TransferState::completed);
    const bool links = refused != QLatin1String("MAKE_LINK");
    for (auto it = folders.cbegin(); it != folders.cend(); ++it) {
        const QString folder = m_media + "/dst/" + it.key();
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), it.value());
        for (const QString& name : it.value()) {
            QCOMPARE(fileContents(folder + u'/' + name), name.toUtf8());
            // No second name is left anywhere.
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(folder + u'/' + name).constData(), &st), 0);
            QCOMPARE(st.st_nlink, nlink_t(1));
            QCOMPARE(countAfcRequests("GET_FILE_INFO", ("/dst/" + it.key() + u'/' + name).toStdString()),
                     size_t(links ? 0 : 1));
        }
    }
    // A device without links is asked once, then every file goes by look and rename; only the
    // first folder made a staging folder.
    QCOMPARE(countAfcRequests("MAKE_LINK"), size_t(links ? 5 : 1));
    QCOMPARE(countAfcRequests("RENAME_PATH"), size_t(links ? 0 : 5));
    QCOMPARE(countAfcRequests("MAKE_DIR"), size_t(links ? 4 : 3));
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

void tst_FolderCopier::anotherCopyIntoTheNewFolderIsLeftAlone_data() {
    QTest::addColumn<Side>("to");     // where the folder is copied to
    QTest::addColumn<bool>("unplug"); // the first copy ends by an unplug, else it is cancelled
    QTest::addColumn<int>("files");   // in the folder; a device folder stages two or more
    QTest::newRow("into this computer, cancelled") << Side::mac << false << 2;
    QTest::newRow("into this computer, unplugged") << Side::mac << true << 2;
    QTest::newRow("into a staging device folder, cancelled") << Side::device << false << 2;
    QTest::newRow("into a device folder without staging, cancelled") << Side::device << false << 1;
}

// A folder copy ends short while another copy (another instance of the program: its own manager
// and bridge) writes a file into the folder the first one made. The first one's clean-up takes
// only what it made there: the other copy ends whole.
void tst_FolderCopier::anotherCopyIntoTheNewFolderIsLeftAlone() {
    QFETCH(Side, to);
    QFETCH(bool, unplug);
    QFETCH(int, files);
    const Side from = to == Side::mac ? Side::device : Side::mac;
    for (int file = 0; file < files; ++file)
        QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/Album/%1.bin").arg(file), patternBytes(mib)));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));

    // The other instance copies from a second device into this computer, or from this computer
    // into the same device.
    const QString otherUdid = QStringLiteral("00008110-00AA00BB00CC00DD");
    fakemux::DeviceDescription otherDescription = describeDevice(otherUdid, QStringLiteral("Other iPhone"));
    const QString otherMedia = QString::fromStdString(otherDescription.mediaRoot.string());
    fakemux::VirtualDevice& otherDevice = addDevice(std::move(otherDescription));
    const QByteArray big = patternBytes(2 * mib);
    const QString bigPath = to == Side::mac ? otherMedia + QStringLiteral("/other/big.bin")
                                            : m_mac + QStringLiteral("/other/big.bin");
    QVERIFY(writeTestFile(bigPath, big));
    const URL bigURL = to == Side::mac ? AFCLocation::mediaURL(otherUdid, QStringLiteral("/other/big.bin"))
                                       : URL::fileURL(bigPath);
    const FileItem bigItem(bigURL.absoluteString(), QStringLiteral("big.bin"), bigURL, false,
                           quint64(big.size()), Date::now(), FileKind::other, std::nullopt);
    auto otherBridge = std::make_shared<AFCBridge>();
    auto otherProvider = std::make_shared<FileSystemProvider>(*otherBridge, m_clock);
    ManualUiTimerSource otherTimers;
    TransferManager other(PreferencesViewController::defaults(), m_clock, m_notifications);
    other.setAFCBridge(otherBridge);
    other.setFileSystemProvider(otherProvider);
    other.setConflictPrompter(m_prompter);
    other.setTimerSource(otherTimers);
    fakemux::VirtualDevice& otherTarget = to == Side::mac ? otherDevice : *m_device;
    fakemux::Faults& otherFaults = otherTarget.faults();

    // The first copy makes its folder and stops in its first file, whose partial copy is there.
    if (to == Side::mac)
        m_device->faults().gateReads(mib / 2);
    else
        m_device->faults().holdNext("FILE_CLOSE");
    const Transfer first =
        launched({item(from, QStringLiteral("/src/Album"))}, location(to, QStringLiteral("/dst")));
    QVERIFY(to == Side::mac ? readHeld() : requestHeld(*m_device));
    // The other one writes its file into that folder and is held in the middle of it.
    if (to == Side::mac)
        otherFaults.gateReads(mib / 2);
    else
        otherFaults.stallWrites();
    const Transfer second = other.startTransfer({bigItem}, location(to, QStringLiteral("/dst/Album")));
    other.launchTask(second);
    QVERIFY(to == Side::mac ? readHeld(&otherTarget) : writeStalled(&otherTarget));

    if (unplug) {
        m_device->unplug();
    } else {
        m_manager->cancelTransfer(first.id);
        drainPostedEvents();
        m_timers.advance(std::chrono::milliseconds(250));
    }
    const Transfer firstDone = finished(first.id);
    QCOMPARE(firstDone.state, unplug ? TransferState::failed : TransferState::cancelled);
    // What the cut left on the device is the next session's to deal with, while the other copy
    // still writes.
    if (to == Side::device)
        async::runSync(m_bridge->connect(udid), std::chrono::seconds(30));
    if (to == Side::mac)
        otherFaults.releaseReads();
    else
        otherFaults.releaseWrites();
    try {
        async::runSync(other.waitForTransfer(second.id), std::chrono::seconds(30));
    } catch (...) {
    }
    drainPostedEvents();
    m_device->faults().releaseReads();
    m_device->faults().releaseHeld();

    QCOMPARE(other.completedTransfers.value().size(), 1);
    const Transfer secondDone = other.completedTransfers.value().front();
    QVERIFY2(secondDone.state == TransferState::completed,
             qPrintable(secondDone.error ? secondDone.error->description() : QStringLiteral("no error")));
    QCOMPARE(fileContents(root(to) + QStringLiteral("/dst/Album/big.bin")), big);
    QCOMPARE(treeOf(root(to) + QStringLiteral("/dst")),
             (QStringList{"Album/", "Album/big.bin " + QString::number(big.size())}));
    QCOMPARE(LeftoverJournal::shared()->entries(), QList<LeftoverJournal::Entry>());
}

ORVANTA_DEVICE_TEST_MAIN(tst_FolderCopier)
#include "tst_FolderCopier.moc"
