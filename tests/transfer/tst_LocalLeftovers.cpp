#include "transfer/LocalLeftovers.h"

#include "device/AFCPath.h"
#include "device/LeftoverJournal.h"
#include "services/PreferencesViewController.h"
#include "transfer/TransferPlacement.h"

#include "LoopDisk.h"
#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>

using Side = TransferTestCase::Side;

namespace {

constexpr qint64 mib = 1 << 20;

// A copy of the tree below from at to, hidden items included: what a crash would leave on disk.
bool copyTree(const QString& from, const QString& to) {
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(it.filePath());
        if (it.fileInfo().isDir() ? !QDir().mkpath(target) : !QFile::copy(it.filePath(), target))
            return false;
    }
    return true;
}

} // namespace

// What the next start puts right after a copy was cut off: the old item of a replacement goes
// back unless its replacement was whole, and nothing half made stays.
class tst_LocalLeftovers : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init() { setUpTransfers(); }
    void cleanup();

    void recoveryFollowsTheRule_data();
    void recoveryFollowsTheRule();
    void aCrashBetweenTheStepsLosesNothing_data();
    void aCrashBetweenTheStepsLosesNothing();
    void foreignLinesTouchNothing();
    void aFolderNotThereKeepsItsEntryUntilItIs();
    void anItemAtTheTopOfADiskNotMountedWaitsForIt();
    void aHiddenFoldersCleanUpStopsAtABindMount();
    void anotherFolderInTheRecordedPlaceKeepsTheEntry_data();
    void anotherFolderInTheRecordedPlaceKeepsTheEntry();
};

void tst_LocalLeftovers::cleanup() {
    TransferPlacement::setStepHookForTesting({});
    m_manager->setBeforeVerification({});
    tearDownTransfers();
}

void tst_LocalLeftovers::recoveryFollowsTheRule_data() {
    QTest::addColumn<bool>("aside");         // an old item set aside, else a partial copy
    QTest::addColumn<bool>("hiddenThere");   // the hidden item is still there
    QTest::addColumn<bool>("originalTaken"); // something holds the original name
    QTest::addColumn<QString>("expected");   // what the original name holds after; "" for nothing
    QTest::newRow("partial copy") << false << true << false << "";
    QTest::newRow("aside, replacement never finished") << true << true << false << "old";
    QTest::newRow("aside, replacement whole") << true << true << true << "new";
    QTest::newRow("aside already dealt with") << true << false << true << "new";
}

void tst_LocalLeftovers::recoveryFollowsTheRule() {
    QFETCH(bool, aside);
    QFETCH(bool, hiddenThere);
    QFETCH(bool, originalTaken);
    QFETCH(QString, expected);
    const QString folder = m_mac + QStringLiteral("/dst");
    const QString hidden =
        folder + (aside ? QStringLiteral("/.orvanta-aside-0123456789abcdef") : QStringLiteral("/.orvanta-partial-0123456789abcdef"));
    const QString original = folder + QStringLiteral("/item");
    QVERIFY(QDir().mkpath(folder));
    if (hiddenThere)
        QVERIFY(writeTestFile(hidden + (aside ? QStringLiteral("/inside.txt") : QString()), "old"));
    if (originalTaken)
        QVERIFY(writeTestFile(original, "new"));
    const QString file = scratchPath(QStringLiteral("journal")) + QStringLiteral("/Leftovers.json");
    // A replacement found whole was recorded so before anything else happened.
    LeftoverJournal::Entry entry{aside ? LeftoverJournal::Kind::asideItem
                                       : LeftoverJournal::Kind::partialCopy,
                                 QString(), QString(), hidden, aside ? original : QString(), originalTaken};
    // A device's entry is the session's to deal with, never this computer's.
    const LeftoverJournal::Entry onDevice{LeftoverJournal::Kind::partialCopy, udid, QString(),
                                          QStringLiteral("/DCIM/.orvanta-partial-0123456789abcdef"),
                                          QString()};
    {
        LeftoverJournal earlier(file);
        QVERIFY(earlier.begin(entry));
        if (entry.replaced)
            QVERIFY(earlier.recordReplaced(entry));
        QVERIFY(earlier.begin(onDevice));
    }

    LeftoverJournal journal(file);
    LocalLeftovers::recover(journal);

    QCOMPARE(journal.entries(), QList<LeftoverJournal::Entry>{onDevice});
    QVERIFY(!QFileInfo::exists(hidden));
    if (expected == QLatin1String("old"))
        QCOMPARE(fileContents(original + QStringLiteral("/inside.txt")), QByteArray("old"));
    else if (expected.isEmpty())
        QVERIFY(!QFileInfo::exists(original));
    else
        QCOMPARE(fileContents(original), expected.toUtf8());
}

void tst_LocalLeftovers::aCrashBetweenTheStepsLosesNothing_data() {
    QTest::addColumn<Side>("from");
    QTest::addColumn<bool>("folder");     // the source is a folder
    QTest::addColumn<bool>("ontoFolder"); // the item it replaces is one
    QTest::addColumn<QString>("step");    // where the copy is cut off
    QTest::addColumn<bool>("replaced");   // the new item is what the next start keeps
    for (const QString& step : {QStringLiteral("aside"), QStringLiteral("whole")}) {
        const bool whole = step == QLatin1String("whole");
        const QByteArray name = step.toLatin1();
        QTest::addRow("file onto file, %s", name.constData()) << Side::mac << false << false << step << whole;
        QTest::addRow("file onto folder, %s", name.constData())
            << Side::mac << false << true << step << whole;
        QTest::addRow("folder onto file, %s", name.constData())
            << Side::mac << true << false << step << whole;
        QTest::addRow("device file onto file, %s", name.constData())
            << Side::device << false << false << step << whole;
    }
    // Half of the folder is built under its hidden name.
    QTest::newRow("folder onto file, while it is built") << Side::mac << true << false << "building" << false;
}

void tst_LocalLeftovers::aCrashBetweenTheStepsLosesNothing() {
    QFETCH(Side, from);
    QFETCH(bool, folder);
    QFETCH(bool, ontoFolder);
    QFETCH(QString, step);
    QFETCH(bool, replaced);
    const QString source = root(from) + QStringLiteral("/src/Thing");
    if (folder) {
        QVERIFY(writeTestFile(source + QStringLiteral("/a.bin"), patternBytes(mib)));
        QVERIFY(writeTestFile(source + QStringLiteral("/b.txt"), "new b"));
    } else {
        QVERIFY(writeTestFile(source, patternBytes(mib)));
    }
    const QString destination = m_mac + QStringLiteral("/dst");
    if (ontoFolder)
        QVERIFY(writeTestFile(destination + QStringLiteral("/Thing/inner.txt"), "keep me"));
    else
        QVERIFY(writeTestFile(destination + QStringLiteral("/Thing"), "old content"));
    const QMap<QString, QByteArray> before = contentsOf(destination, true);
    // What the disk and the journal hold at the moment of the crash.
    const QString crashed = scratchPath(QStringLiteral("crashed"));
    const QString crashedJournal = scratchPath(QStringLiteral("journal")) + QStringLiteral("/Leftovers.json");
    bool snapped = false;
    const auto snapshot = [&] {
        if (snapped)
            return;
        snapped = true;
        QVERIFY(copyTree(destination, crashed));
        QVERIFY(QFile::copy(LeftoverJournal::shared()->ownFile(), crashedJournal));
    };
    TransferPlacement::setStepHookForTesting([&](const QString& at, const URL&) {
        if (at == step)
            snapshot();
    });
    if (step == QLatin1String("building")) {
        PreferencesViewController::defaults().set(PreferencesViewController::verifyTransfersKey, true);
        m_manager->setBeforeVerification([&](const URL&, const URL&) { snapshot(); });
    }
    m_prompter->answers = {answer(ConflictResolution::replace)};

    const Transfer done =
        transfer({item(from, QStringLiteral("/src/Thing"))}, location(Side::mac, QStringLiteral("/dst")));
    QCOMPARE(done.state, TransferState::completed);
    QVERIFY(snapped);
    // The next start finds the disk as the crash left it.
    QVERIFY(QDir(destination).removeRecursively());
    QVERIFY(QDir().rename(crashed, destination));
    LeftoverJournal journal(crashedJournal);
    QVERIFY(!journal.leftovers(QString()).isEmpty());
    LocalLeftovers::recover(journal);

    QVERIFY(journal.entries().isEmpty());
    QMap<QString, QByteArray> expected = before;
    if (replaced) {
        expected.clear();
        const QMap<QString, QByteArray> made = contentsOf(source, true);
        if (folder) {
            expected.insert(QStringLiteral("Thing/"), QByteArray());
            for (auto it = made.cbegin(); it != made.cend(); ++it)
                expected.insert(QStringLiteral("Thing/") + it.key(), it.value());
        } else {
            expected.insert(QStringLiteral("Thing"), fileContents(source));
        }
    }
    QCOMPARE(contentsOf(destination, true), expected);
}

// A damaged or foreign journal names the user's own folders: nothing of theirs is touched, and
// the lines are dropped.
void tst_LocalLeftovers::foreignLinesTouchNothing() {
    const QString home = m_mac + QStringLiteral("/home");
    QVERIFY(writeTestFile(home + QStringLiteral("/Documents/letter.txt"), "mine"));
    QVERIFY(writeTestFile(home + QStringLiteral("/Other/.orvanta-aside-0123456789abcdef"), "also mine"));
    QVERIFY(writeTestFile(home + QStringLiteral("/.orvanta-partial-0123456789abcdef/x"), "ours, from a crash"));
    const QString file = scratchPath(QStringLiteral("journal")) + QStringLiteral("/Leftovers.jsonl");
    QByteArray text;
    for (const QString& line :
         {QStringLiteral(R"({"kind":"partial","path":"%1/Documents"})"),
          QStringLiteral(R"({"kind":"aside","path":"%1/Other/.orvanta-aside-0123456789abcdef","originalPath":"%1/Documents"})"),
          QStringLiteral(R"({"kind":"partial","path":"%1/Documents/../.orvanta-partial-0123456789abcdef"})"),
          QStringLiteral(R"({"kind":"folder","path":"%1/.orvanta-partial-0123456789abcdef"})"),
          QStringLiteral(R"({"kind":"partial","path":"%1/.orvanta-partial-0123456789abcdef"})")})
        text += line.arg(home).toUtf8() + '\n';
    QVERIFY(writeTestFile(file, text));

    LeftoverJournal journal(file);
    LocalLeftovers::recover(journal);

    QVERIFY(journal.entries().isEmpty());
    QCOMPARE(treeOf(home), (QStringList{"Documents/", "Documents/letter.txt 4", "Other/",
                                        "Other/.orvanta-aside-0123456789abcdef 9"}));
}

// A disk that is not mounted at the next start, or a folder renamed meanwhile: the entry waits,
// and the item comes back once its folder is there again.
void tst_LocalLeftovers::aFolderNotThereKeepsItsEntryUntilItIs() {
    const QString folder = m_mac + QStringLiteral("/disk/Photos");
    const QString hidden = folder + QStringLiteral("/.orvanta-aside-0123456789abcdef");
    const QString file = scratchPath(QStringLiteral("journal")) + QStringLiteral("/Leftovers.jsonl");
    const LeftoverJournal::Entry entry{LeftoverJournal::Kind::asideItem, QString(), QString(), hidden,
                                       folder + QStringLiteral("/Beach.jpg")};
    {
        LeftoverJournal earlier(file);
        QVERIFY(earlier.begin(entry));
    }
    {
        LeftoverJournal journal(file);
        LocalLeftovers::recover(journal);
        QCOMPARE(journal.entries(), QList<LeftoverJournal::Entry>{entry});
    }
    QVERIFY(writeTestFile(hidden, "the only copy"));
    LeftoverJournal journal(file);
    LocalLeftovers::recover(journal);
    QVERIFY(journal.entries().isEmpty());
    QCOMPARE(fileContents(folder + QStringLiteral("/Beach.jpg")), QByteArray("the only copy"));
}

// Set aside at the top of a disk that is not mounted at the next start: its mount point is there,
// an empty folder of another file system. The entry waits, and the item comes back once the disk
// is mounted again. A bind mount of a folder on another file system stands for the disk.
void tst_LocalLeftovers::anItemAtTheTopOfADiskNotMountedWaitsForIt() {
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/orvanta-disk-XXXXXX"));
    const QString mountPoint = m_mac + QStringLiteral("/Disk");
    QVERIFY(elsewhere.isValid());
    QVERIFY(QDir().mkpath(mountPoint));
    struct stat disk {};
    struct stat point {};
    QVERIFY(::stat(QFile::encodeName(elsewhere.path()).constData(), &disk) == 0);
    QVERIFY(::stat(QFile::encodeName(mountPoint).constData(), &point) == 0);
    if (disk.st_dev == point.st_dev)
        QSKIP("/dev/shm is on the same file system as the test's folders");
    const QByteArray mountPath = QFile::encodeName(mountPoint);
    if (::mount(QFile::encodeName(elsewhere.path()).constData(), mountPath.constData(), nullptr, MS_BIND,
                nullptr) != 0)
        QSKIP("mounting needs root (a bind mount stands for the disk)");
    const auto unmount = qScopeGuard([&] { ::umount2(mountPath.constData(), MNT_DETACH); });
    const QString hidden = mountPoint + QStringLiteral("/.orvanta-aside-0123456789abcdef");
    const LeftoverJournal::Entry entry{LeftoverJournal::Kind::asideItem, QString(), QString(), hidden,
                                       mountPoint + QStringLiteral("/Beach.jpg")};
    const QString file = scratchPath(QStringLiteral("journal")) + QStringLiteral("/Leftovers.jsonl");
    {
        LeftoverJournal earlier(file);
        QVERIFY(earlier.begin(entry));
        QVERIFY(writeTestFile(hidden, "the only copy"));
    }
    QCOMPARE(::umount(mountPath.constData()), 0);

    {
        LeftoverJournal journal(file);
        LocalLeftovers::recover(journal);
        QCOMPARE(journal.entries(), QList<LeftoverJournal::Entry>{entry});
    }
    QCOMPARE(::mount(QFile::encodeName(elsewhere.path()).constData(), mountPath.constData(), nullptr, MS_BIND,
                     nullptr),
             0);
    LeftoverJournal journal(file);
    LocalLeftovers::recover(journal);
    QVERIFY(journal.entries().isEmpty());
    QCOMPARE(fileContents(mountPoint + QStringLiteral("/Beach.jpg")), QByteArray("the only copy"));
}

// A hidden folder a Replace was building, with a folder of the same file system bound inside it
// meanwhile: its clean-up removes nothing rather than empty what is mounted there, and its entry
// waits.
void tst_LocalLeftovers::aHiddenFoldersCleanUpStopsAtABindMount() {
    const QString bound = m_mac + QStringLiteral("/Elsewhere");
    QVERIFY(writeTestFile(bound + QStringLiteral("/keep.txt"), "keep"));
    const QString hidden = m_mac + QStringLiteral("/dst/") + AFCPath::partialCopyName();
    QVERIFY(writeTestFile(hidden + QStringLiteral("/Album/a.jpg"), "a"));
    const QByteArray mountPoint = QFile::encodeName(hidden + QStringLiteral("/Album/Mounted"));
    QVERIFY(QDir().mkpath(QFile::decodeName(mountPoint)));
    if (::mount(QFile::encodeName(bound).constData(), mountPoint.constData(), nullptr, MS_BIND, nullptr) != 0)
        QSKIP("mounting needs root");
    const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
    const LeftoverJournal::Entry entry{LeftoverJournal::Kind::partialCopy, QString(), QString(), hidden,
                                       QString()};
    LeftoverJournal journal(scratchPath(QStringLiteral("journal")) + QStringLiteral("/Leftovers.jsonl"));
    QVERIFY(journal.begin(entry));
    journal.released(entry);

    LocalLeftovers::recover(journal);
    QCOMPARE(fileContents(bound + QStringLiteral("/keep.txt")), QByteArray("keep"));
    QCOMPARE(journal.entries(), QList<LeftoverJournal::Entry>{entry});
    QVERIFY(QFileInfo::exists(hidden + QStringLiteral("/Album/a.jpg")));
}

void tst_LocalLeftovers::anotherFolderInTheRecordedPlaceKeepsTheEntry_data() {
    QTest::addColumn<bool>("otherDisk"); // else a folder of the same file system bound over it
    QTest::newRow("another disk in the same loop device") << true;
    QTest::newRow("a folder of the same file system bound over it") << false;
}

// At the next start the place of an item set aside shows another folder: another disk taking its
// turn in the same drive (the same device number, another file system), or a folder of the same
// file system bound over it. The item's absence there proves nothing: the entry waits, and the
// item comes back once its own folder is there again.
void tst_LocalLeftovers::anotherFolderInTheRecordedPlaceKeepsTheEntry() {
    QFETCH(bool, otherDisk);
    std::unique_ptr<LoopDisk> disk;
    QString folder = m_mac + QStringLiteral("/Photos");
    const QString other = m_mac + QStringLiteral("/Other");
    if (otherDisk) {
        disk = std::make_unique<LoopDisk>(scratchPath(QStringLiteral("image")), LoopDisk::Kind::ext4, 16);
        if (!disk->isMounted())
            QSKIP(qPrintable(QStringLiteral("needs a loop-mounted ext4 image: ") + disk->failure()));
        folder = disk->path();
    } else {
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QDir().mkpath(other));
    }
    const QByteArray native = QFile::encodeName(folder);
    const QString hidden = folder + QStringLiteral("/.orvanta-aside-0123456789abcdef");
    const LeftoverJournal::Entry entry{LeftoverJournal::Kind::asideItem, QString(), QString(), hidden,
                                       folder + QStringLiteral("/Beach.jpg")};
    const QString file = scratchPath(QStringLiteral("journal")) + QStringLiteral("/Leftovers.jsonl");
    struct stat before {};
    {
        LeftoverJournal earlier(file);
        QVERIFY(earlier.begin(entry));
        QVERIFY(writeTestFile(hidden, "the only copy"));
        QCOMPARE(::stat(native.constData(), &before), 0);
    }
    bool bound = false;
    const auto unbind = qScopeGuard([&] {
        if (bound)
            ::umount2(native.constData(), MNT_DETACH);
    });
    if (otherDisk) {
        QVERIFY2(disk->swapDisk(), qPrintable(disk->failure()));
    } else {
        if (::mount(QFile::encodeName(other).constData(), native.constData(), nullptr, MS_BIND, nullptr) != 0)
            QSKIP("mounting needs root (a bind mount shows the other folder)");
        bound = true;
    }
    struct stat now {};
    QCOMPARE(::stat(native.constData(), &now), 0);
    // What a device number alone cannot tell apart.
    QCOMPARE(now.st_dev, before.st_dev);
    QVERIFY(!QFileInfo::exists(hidden));

    {
        LeftoverJournal journal(file);
        LocalLeftovers::recover(journal);
        QCOMPARE(journal.entries(), QList<LeftoverJournal::Entry>{entry});
    }
    if (otherDisk) {
        QVERIFY2(disk->swapDisk(), qPrintable(disk->failure()));
    } else {
        QCOMPARE(::umount(native.constData()), 0);
        bound = false;
    }
    LeftoverJournal journal(file);
    LocalLeftovers::recover(journal);
    QVERIFY(journal.entries().isEmpty());
    QCOMPARE(fileContents(folder + QStringLiteral("/Beach.jpg")), QByteArray("the only copy"));
}

ORVANTA_DEVICE_TEST_MAIN(tst_LocalLeftovers)
#include "tst_LocalLeftovers.moc"
