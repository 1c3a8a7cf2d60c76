// What copies leave on a device is dealt with when a session of that place opens: partial files
// go, items set aside come back or go, and a lost device or a running copy leaves its entries.

#include "device/AFCBridge.h"
#include "device/AFCError.h"
#include "device/LeftoverJournal.h"

#include "DeviceTestCase.h"
#include "TaskFailure.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using async::runSync;
using Entry = LeftoverJournal::Entry;
using Kind = LeftoverJournal::Kind;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString bundle = QStringLiteral("com.example.notes");
constexpr qint64 mib = 1 << 20;
const QString partialName = QStringLiteral(".orvanta-partial-00000000000000f1");
const QString asideName = QStringLiteral(".orvanta-aside-00000000000000f1");

} // namespace

class tst_AFCLeftovers : public DeviceTestCase {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sessionOpenDealsWithLeftovers_data();
    void sessionOpenDealsWithLeftovers();
    void uploadCutByUnplugLeavesNothingAfterRestart();

private:
    QString journalFile() const {
        return scratchPath(QStringLiteral("data")) + QStringLiteral("/Leftovers.json");
    }
    // Entries an earlier run left: written by one journal, read by the next.
    void leftBehind(const QList<Entry>& entries) {
        LeftoverJournal earlier(journalFile());
        for (const Entry& entry : entries) {
            QVERIFY(earlier.begin(entry));
            if (entry.replaced)
                QVERIFY(earlier.recordReplaced(entry));
            earlier.released(entry);
        }
    }
    QString m_media;
    QString m_container;
};

void tst_AFCLeftovers::init() {
    setUpTest();
    fakemux::DeviceDescription description = describeDevice(udid);
    m_media = QString::fromStdString(description.mediaRoot.string());
    m_container = scratchPath(QStringLiteral("container"));
    QDir(m_container).mkpath(QStringLiteral("Documents"));
    description.apps.push_back(
        {bundle.toStdString(), "Notes", true, std::nullopt, m_container.toStdString()});
    addDevice(std::move(description));
}

void tst_AFCLeftovers::cleanup() {
    tearDownTest();
}

void tst_AFCLeftovers::sessionOpenDealsWithLeftovers_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QStringList>("media"); // files in DCIM afterwards, folders with a slash
    QTest::addColumn<bool>("entryStays");
    QTest::newRow("partial copy removed") << "partial" << QStringList{"IMG_1.JPG"} << false;
    QTest::newRow("partial copy already gone") << "partial gone" << QStringList{"IMG_1.JPG"} << false;
    QTest::newRow("aside item put back under its free name")
        << "aside free" << QStringList{"IMG_1.JPG", "Old.JPG"} << false;
    QTest::newRow("aside folder removed, its replacement was whole")
        << "aside taken" << QStringList{"Album/", "Album/new.JPG", "IMG_1.JPG"} << false;
    QTest::newRow("a running copy's partial file is never touched")
        << "running" << QStringList{partialName, "IMG_1.JPG"} << true;
    QTest::newRow("device gone during the clean-up") << "lost" << QStringList{partialName, "IMG_1.JPG"} << true;
    QTest::newRow("another app's leftovers wait for its session")
        << "other place" << QStringList{partialName, "IMG_1.JPG"} << true;
    QTest::newRow("aside in a folder renamed meanwhile waits for it")
        << "folder gone" << QStringList{"IMG_1.JPG"} << true;
    QTest::newRow("aside whose name cannot be looked at stays")
        << "look fails" << QStringList{asideName, "IMG_1.JPG"} << true;
    QTest::newRow("aside whose name another program took comes back beside it")
        << "aside taken by another" << QStringList{"IMG_1.JPG", "Old copy.JPG", "Old.JPG"} << false;
}

void tst_AFCLeftovers::sessionOpenDealsWithLeftovers() {
    QFETCH(QString, situation);
    QFETCH(QStringList, media);
    QFETCH(bool, entryStays);
    const QString dcim = m_media + QStringLiteral("/DCIM");
    QVERIFY(writeTestFile(dcim + QStringLiteral("/IMG_1.JPG"), "keep"));
    Entry entry{Kind::partialCopy, udid, QString(), QStringLiteral("/DCIM/") + partialName, QString()};
    if (situation != "partial gone")
        QVERIFY(writeTestFile(dcim + u'/' + partialName, "half"));
    if (situation == "aside free") {
        QVERIFY(QFile::rename(dcim + u'/' + partialName, dcim + u'/' + asideName));
        entry = {Kind::asideItem, udid, QString(), QStringLiteral("/DCIM/") + asideName,
                 QStringLiteral("/DCIM/Old.JPG")};
    } else if (situation == "aside taken") {
        QVERIFY(QFile::remove(dcim + u'/' + partialName));
        QVERIFY(writeTestFile(dcim + u'/' + asideName + QStringLiteral("/old.JPG"), "old"));
        QVERIFY(writeTestFile(dcim + QStringLiteral("/Album/new.JPG"), "new"));
        // Its replacement was recorded whole and named.
        entry = {Kind::asideItem, udid, QString(), QStringLiteral("/DCIM/") + asideName,
                 QStringLiteral("/DCIM/Album"), true};
    } else if (situation == "other place") {
        entry.bundleID = bundle;
    } else if (situation == "folder gone") {
        QVERIFY(QFile::remove(dcim + u'/' + partialName));
        entry = {Kind::asideItem, udid, QString(), QStringLiteral("/DCIM/Trip/") + asideName,
                 QStringLiteral("/DCIM/Trip/Old.JPG")};
    } else if (situation == "look fails") {
        // A name longer than the device allows: looking at it fails, which says nothing either way.
        QVERIFY(QFile::rename(dcim + u'/' + partialName, dcim + u'/' + asideName));
        entry = {Kind::asideItem, udid, QString(), QStringLiteral("/DCIM/") + asideName,
                 QStringLiteral("/DCIM/") + QString(300, u'n')};
    } else if (situation == "aside taken by another") {
        QVERIFY(QFile::rename(dcim + u'/' + partialName, dcim + u'/' + asideName));
        QVERIFY(writeTestFile(dcim + QStringLiteral("/Old.JPG"), "theirs"));
        entry = {Kind::asideItem, udid, QString(), QStringLiteral("/DCIM/") + asideName,
                 QStringLiteral("/DCIM/Old.JPG")};
    }
    auto journal = std::make_shared<LeftoverJournal>(journalFile());
    if (situation == "running") {
        QVERIFY(journal->begin(entry));
    } else {
        leftBehind({entry});
        journal = std::make_shared<LeftoverJournal>(journalFile());
    }
    if (situation == "lost")
        emulator().device(udid.toStdString())->faults().unplugAfterAfcReplies(1);

    AFCBridge bridge(journal);
    const auto opened = failureOf<AFCError>(bridge.connect(udid));
    QCOMPARE(bool(opened), false);

    QStringList names;
    for (const QFileInfo& info :
         QDir(dcim).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        names << info.fileName() + (info.isDir() ? QStringLiteral("/") : QString());
        if (info.isDir()) {
            for (const QString& inside : QDir(info.filePath()).entryList(QDir::Files | QDir::Hidden))
                names << info.fileName() + u'/' + inside;
        }
    }
    names.sort();
    QCOMPARE(names, media);
    if (situation == "aside free")
        QCOMPARE(fileContents(dcim + QStringLiteral("/Old.JPG")), QByteArray("half"));
    if (situation == "aside taken by another") {
        QCOMPARE(fileContents(dcim + QStringLiteral("/Old.JPG")), QByteArray("theirs"));
        QCOMPARE(fileContents(dcim + QStringLiteral("/Old copy.JPG")), QByteArray("half"));
    }
    QCOMPARE(journal->entries().contains(entry), entryStays);
    // What the file holds is what the next run finds.
    QCOMPARE(LeftoverJournal::parse(fileContents(journal->ownFile())).contains(entry), entryStays);
}

// A partial upload that the device took with it is removed when the device's session next opens,
// also in a later run of the program with a bridge of its own.
void tst_AFCLeftovers::uploadCutByUnplugLeavesNothingAfterRestart() {
    const QString local = scratchPath(QStringLiteral("local")) + QStringLiteral("/clip.mov");
    QVERIFY(writeTestFile(local, patternBytes(6 * mib)));
    fakemux::VirtualDevice& device = *emulator().device(udid.toStdString());
    {
        AFCBridge bridge(std::make_shared<LeftoverJournal>(journalFile()));
        runSync(bridge.connectApp(udid, bundle));
        device.faults().unplugAfterAfcBytes(3 * mib);
        const auto error = failureOf<AFCError>(
            bridge.uploadFile(udid, QStringLiteral("/Documents/clip.mov"), URL::fileURL(local), bundle));
        QVERIFY(error && error->isConnectionLost());
    }
    const QString documents = m_container + QStringLiteral("/Documents");
    QCOMPARE(QDir(documents).entryList(QDir::Files | QDir::Hidden).size(), 1);

    device.plug();
    auto journal = std::make_shared<LeftoverJournal>(journalFile());
    QCOMPARE(journal->leftovers(udid, bundle).size(), 1);
    AFCBridge restarted(journal);
    // The media area is another place: its session leaves the container alone.
    runSync(restarted.connect(udid));
    QCOMPARE(QDir(documents).entryList(QDir::Files | QDir::Hidden).size(), 1);
    runSync(restarted.connectApp(udid, bundle));
    QCOMPARE(QDir(documents).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(journal->entries(), QList<Entry>());
}

ORVANTA_DEVICE_TEST_MAIN(tst_AFCLeftovers)
#include "tst_AFCLeftovers.moc"
