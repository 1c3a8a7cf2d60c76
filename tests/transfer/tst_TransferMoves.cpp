// What a move leaves when something happens around it: another program writing where the moved
// item goes, a device that will not link or will not let the old name go, a device that stops
// answering while the sources are removed. Nothing anyone wrote is lost, and the move's last steps
// are the transfer's: shown, cancellable, and reported when they fail.

#include "platform/FileRename.h"
#include "platform/async/RunSync.h"
#include "platform/async/TaskHandle.h"

#include "EventLoop.h"
#include "LogCapture.h"
#include "LoopDisk.h"
#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

using Side = TransferTestCase::Side;
using async::runSync;

namespace {

// Runs the move in a task of its own, so that a test can act while the device holds a request.
async::TaskHandle<void> moveInBackground(TransferManager& manager, QList<FileItem> items, URL destination) {
    return async::spawn([&manager, items, destination](std::stop_token) -> async::Task<void> {
        async::Task<void> moving = manager.moveItems(items, destination);
        co_await moving;
    });
}

// The error the move ended with: "" for none, "cancelled" for a cancellation, else its text.
QString outcomeOf(const async::TaskHandle<void>& move) {
    try {
        runSync(move.result(), std::chrono::seconds(20));
    } catch (const async::RunSyncTimeout&) {
        return QStringLiteral("still running");
    } catch (const async::CancelledError&) {
        return QStringLiteral("cancelled");
    } catch (const TransferError& error) {
        return error.message();
    }
    return QString();
}

// How a source changes between its copy and the removal of the moved sources. Each way changes one
// fact of the file only, the others kept as they were: an editor's save (a new file renamed over
// the old, of its size and date), a rewrite in place dated later, one that grows it and keeps its
// date, and one of the same size that puts its date back (as tag editors that "keep the file's
// date" do), which only the change time tells.
enum class Change { renamedOver, laterDate, otherSize, sameSizeAndDate };

bool change(const QString& path, Change how) {
    struct stat before {};
    if (::stat(QFile::encodeName(path).constData(), &before) != 0)
        return false;
    const QByteArray old = fileContents(path);
    QByteArray edited = old;
    edited[0] = edited[0] == 'X' ? 'Y' : 'X';
    QString written = path;
    if (how == Change::renamedOver)
        written = path + QStringLiteral(".save");
    if (how == Change::otherSize)
        edited.append("and more");
    if (!writeTestFile(written, edited))
        return false;
    struct timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
    if (how == Change::laterDate)
        times[1].tv_sec += 2;
    if (::utimensat(AT_FDCWD, QFile::encodeName(written).constData(), times, 0) != 0)
        return false;
    if (how == Change::renamedOver &&
        std::rename(QFile::encodeName(written).constData(), QFile::encodeName(path).constData()) != 0)
        return false;
    // The rewrite in place must not have gone unseen by the disk itself.
    struct stat after {};
    return how != Change::sameSizeAndDate ||
           (::stat(QFile::encodeName(path).constData(), &after) == 0 && after.st_ino == before.st_ino &&
            (after.st_ctim.tv_sec != before.st_ctim.tv_sec ||
             after.st_ctim.tv_nsec != before.st_ctim.tv_nsec));
}

// Runs the loop until the device holds a request again after the one it held was let go, once
// ready() says that the held one has been answered.
bool heldAgain(fakemux::VirtualDevice& device, const std::function<bool()>& ready) {
    // Bounded by time, not by rounds: the copy before the request held next, on the bridge's
    // thread, may outlast any count of rounds on a busy machine. The bound only stops a broken
    // test from hanging.
    const QDeadlineTimer deadline(std::chrono::seconds(20));
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        // The device is waited on every round: a copy still on its way (from a slow disk) paces
        // the loop instead of running through it.
        const bool readyNow = ready();
        if (device.faults().waitUntilHeld(std::chrono::milliseconds(1)) && readyNow)
            return true;
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(LoopDisk::Kind)

class tst_TransferMoves : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init() { setUpTransfers(); }
    void cleanup() {
        setRenameFallbackForTesting({});
        m_device->faults().releaseHeld();
        tearDownTransfers();
    }

    void aMoveNeverReplacesAFileWrittenMeanwhile_data();
    void aMoveNeverReplacesAFileWrittenMeanwhile();
    void aMoveOnADeviceThatWillNotLink_data();
    void aMoveOnADeviceThatWillNotLink();
    void aSourceThatWillNotGoFailsTheMove_data();
    void aSourceThatWillNotGoFailsTheMove();
    void cancelEndsAMoveWhoseSourceTheDeviceHolds_data();
    void cancelEndsAMoveWhoseSourceTheDeviceHolds();
    void aSourceChangedAfterItsCopyIsKept_data();
    void aSourceChangedAfterItsCopyIsKept();
    void aStickReadAfreshGivesUpOnlyWhatChanged_data();
    void aStickReadAfreshGivesUpOnlyWhatChanged();
    void browsersLearnOfSourcesGoneBeforeAMoveEndedShort_data();
    void browsersLearnOfSourcesGoneBeforeAMoveEndedShort();
};

void tst_TransferMoves::aMoveNeverReplacesAFileWrittenMeanwhile_data() {
    QTest::addColumn<Side>("side");
    QTest::newRow("on the device") << Side::device;
    QTest::newRow("on this computer, without the kernel's check") << Side::mac;
}

// The move finds the name free; before the item takes it, another program writes a file there.
// That file stays, and the moved one lands beside it once the user answers Keep Both.
void tst_TransferMoves::aMoveNeverReplacesAFileWrittenMeanwhile() {
    QFETCH(Side, side);
    QVERIFY(writeTestFile(root(side) + QStringLiteral("/src/Notes.txt"), "mine"));
    const QString destination = root(side) + QStringLiteral("/dst");
    QVERIFY(QDir().mkpath(destination));
    const QString theirs = destination + QStringLiteral("/Notes.txt");
    m_prompter->answers = {answer(ConflictResolution::keepBoth)};
    if (side == Side::device) {
        m_device->faults().holdNext("RENAME_PATH");
        m_device->faults().holdNext("MAKE_LINK");
    } else {
        setRenameFallbackForTesting([theirs, written = false]() mutable {
            if (!std::exchange(written, true))
                QVERIFY(writeTestFile(theirs, "theirs"));
        });
    }

    const async::TaskHandle<void> move =
        moveInBackground(*m_manager, {item(side, QStringLiteral("/src/Notes.txt"))}, location(side, QStringLiteral("/dst")));
    if (side == Side::device) {
        QVERIFY(requestHeld(*m_device));
        QVERIFY(writeTestFile(theirs, "theirs"));
        m_device->faults().releaseHeld();
    }

    QCOMPARE(outcomeOf(move), QString());
    QCOMPARE(itemsIn(destination), (QStringList{"Notes copy.txt=mine", "Notes.txt=theirs"}));
    QVERIFY(!QFileInfo::exists(root(side) + QStringLiteral("/src/Notes.txt")));
}

void tst_TransferMoves::aMoveOnADeviceThatWillNotLink_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("refuseLinks");
    QTest::newRow("file, links refused") << "Notes.txt" << true;
    QTest::newRow("folder") << "Album" << false;
}

// Where the device makes no second name, the move still renames, in place, without a copy.
void tst_TransferMoves::aMoveOnADeviceThatWillNotLink() {
    QFETCH(QString, source);
    QFETCH(bool, refuseLinks);
    const bool folder = !source.contains(u'.');
    const QString file = folder ? source + QStringLiteral("/a.txt") : source;
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/") + file, "mine"));
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst")));
    if (refuseLinks)
        m_device->faults().refuseOperation("MAKE_LINK");

    runSync(m_manager->moveItems({item(Side::device, QStringLiteral("/src/") + source)},
                                 location(Side::device, QStringLiteral("/dst"))));

    QCOMPARE(itemsIn(m_media + QStringLiteral("/dst")),
             folder ? (QStringList{"Album/", "Album/a.txt=mine"}) : QStringList{"Notes.txt=mine"});
    QCOMPARE(itemsIn(m_media + QStringLiteral("/src")), QStringList());
    QVERIFY(m_manager->completedTransfers.value().isEmpty());
}

void tst_TransferMoves::aSourceThatWillNotGoFailsTheMove_data() {
    QTest::addColumn<Side>("to");
    QTest::newRow("renamed on the device") << Side::device;
    QTest::newRow("copied from the device") << Side::mac;
}

// The device refuses to remove the moved file's old name. The file is at its new place and at its
// old one, and the move says that it did not finish; a copy's transfer says so in its report.
void tst_TransferMoves::aSourceThatWillNotGoFailsTheMove() {
    QFETCH(Side, to);
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/Notes.txt"), "mine"));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));
    m_device->faults().refuseOperation("REMOVE_PATH", 10);
    const QString expected = QStringLiteral("Move delete phase failed for: Notes.txt");

    const async::TaskHandle<void> move = moveInBackground(
        *m_manager, {item(Side::device, QStringLiteral("/src/Notes.txt"))}, location(to, QStringLiteral("/dst")));

    QCOMPARE(outcomeOf(move), expected);
    QCOMPARE(fileContents(root(to) + QStringLiteral("/dst/Notes.txt")), QByteArray("mine"));
    QCOMPARE(fileContents(m_media + QStringLiteral("/src/Notes.txt")), QByteArray("mine"));
    if (to == Side::device) {
        QVERIFY(m_manager->completedTransfers.value().isEmpty());
        return;
    }
    const Transfer done = m_manager->completedTransfers.value().front();
    QCOMPARE(done.state, TransferState::failed);
    QVERIFY(done.error && done.error->message() == expected);
    QVERIFY(done.reportURL);
    QVERIFY(fileContents(done.reportURL->toLocalFile()).contains(expected.toUtf8()));
}

void tst_TransferMoves::cancelEndsAMoveWhoseSourceTheDeviceHolds_data() {
    QTest::addColumn<QString>("source");
    QTest::newRow("file") << "Notes.txt";
    QTest::newRow("folder") << "Album";
}

// The copy is done and the device holds the removal of a source for good. The move's transfer
// still shows while it waits, and Cancel ends it once the cut's grace has passed on its clock.
void tst_TransferMoves::cancelEndsAMoveWhoseSourceTheDeviceHolds() {
    QFETCH(QString, source);
    const bool folder = !source.contains(u'.');
    const QString file = folder ? source + QStringLiteral("/a.txt") : source;
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/") + file, "mine"));
    QVERIFY(QDir().mkpath(m_mac + QStringLiteral("/dst")));
    m_device->faults().holdNext("REMOVE_PATH");

    const async::TaskHandle<void> move = moveInBackground(
        *m_manager, {item(Side::device, QStringLiteral("/src/") + source)}, location(Side::mac, QStringLiteral("/dst")));
    QVERIFY(requestHeld(*m_device));
    drainPostedEvents();
    const QList<Transfer> active = m_manager->activeTransfers.value();
    QCOMPARE(active.size(), 1);
    QCOMPARE(active.front().state, TransferState::active);

    m_manager->cancelTransfer(active.front().id);
    drainPostedEvents();
    m_timers.advance(std::chrono::milliseconds(250));

    QCOMPARE(outcomeOf(move), QStringLiteral("cancelled"));
    QVERIFY(m_device->faults().waitUntilHeld(std::chrono::milliseconds(0)));
    QCOMPARE(m_manager->completedTransfers.value().front().state, TransferState::cancelled);
    QCOMPARE(m_manager->runningTransferTasks(), 0);
    QCOMPARE(fileContents(m_mac + QStringLiteral("/dst/") + file), QByteArray("mine"));
}

void tst_TransferMoves::aSourceChangedAfterItsCopyIsKept_data() {
    QTest::addColumn<Side>("from");
    QTest::addColumn<Change>("how");
    QTest::addColumn<QString>("folder");
    QTest::newRow("computer to phone, an editor's save") << Side::mac << Change::renamedOver << "";
    QTest::newRow("computer to phone, dated later") << Side::mac << Change::laterDate << "";
    QTest::newRow("computer to phone, grown") << Side::mac << Change::otherSize << "";
    QTest::newRow("phone to computer, dated later") << Side::device << Change::laterDate << "";
    QTest::newRow("phone to computer, grown") << Side::device << Change::otherSize << "";
    QTest::newRow("a folder from the computer, an editor's save")
        << Side::mac << Change::renamedOver << "Album";
    QTest::newRow("a folder from the computer, rewritten with its date put back")
        << Side::mac << Change::sameSizeAndDate << "Album";
    QTest::newRow("a folder from the phone, grown") << Side::device << Change::otherSize << "Album";
}

// a.txt is copied whole; while the move copies b.txt, a.txt changes. The move keeps it and says
// so: the user's latest work is never deleted for an older copy. A folder that holds it stays.
void tst_TransferMoves::aSourceChangedAfterItsCopyIsKept() {
    QFETCH(Side, from);
    QFETCH(Change, how);
    QFETCH(QString, folder);
    const Side to = from == Side::mac ? Side::device : Side::mac;
    const QString inside = folder.isEmpty() ? QString() : folder + u'/';
    const QString sources = root(from) + QStringLiteral("/src/");
    QVERIFY(writeTestFile(sources + inside + QStringLiteral("a.txt"), "old a"));
    QVERIFY(writeTestFile(sources + inside + QStringLiteral("b.txt"), "old b"));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));
    const LogCapture logs;
    m_device->faults().holdNext("FILE_OPEN");

    const QList<FileItem> moved = folder.isEmpty()
                                      ? QList<FileItem>{item(from, QStringLiteral("/src/a.txt")),
                                                        item(from, QStringLiteral("/src/b.txt"))}
                                      : QList<FileItem>{item(from, QStringLiteral("/src/") + folder)};
    const async::TaskHandle<void> move =
        moveInBackground(*m_manager, moved, location(to, QStringLiteral("/dst")));
    QVERIFY(requestHeld(*m_device));
    m_device->faults().holdNext("FILE_OPEN");
    m_device->faults().passHeld();
    // The second file's copy is held, the first one's is whole under its name: a.txt, or in a
    // folder whichever the disk listed first.
    const QString copies = root(to) + QStringLiteral("/dst/") + inside;
    QString first;
    QVERIFY(heldAgain(*m_device, [&] {
        for (const QString name : {QStringLiteral("a.txt"), QStringLiteral("b.txt")})
            if (QFileInfo::exists(copies + name))
                first = name;
        return !first.isEmpty();
    }));
    if (folder.isEmpty())
        QCOMPARE(first, QStringLiteral("a.txt"));
    const QString changed = sources + inside + first;
    QVERIFY(change(changed, how));
    const QByteArray saved = fileContents(changed);
    m_device->faults().releaseHeld();

    QCOMPARE(outcomeOf(move), QStringLiteral("Move delete phase failed for: ") +
                                  (folder.isEmpty() ? QStringLiteral("a.txt") : folder));
    QCOMPARE(fileContents(changed), saved);
    // A folder keeps the files not yet removed when the changed one was met: here, the first.
    QCOMPARE(itemsIn(sources).size(), folder.isEmpty() ? 1 : 3);
    QCOMPARE(itemsIn(copies), (QStringList{"a.txt=old a", "b.txt=old b"}));
    const QStringList lines = logs.messages(LogCapture::category(QStringLiteral("transfer")));
    QVERIFY2(lines.filter(inside + first + QStringLiteral(" changed after its copy")).size() == 1,
             qPrintable(lines.join(u'\n')));
    QCOMPARE(m_manager->completedTransfers.value().front().state, TransferState::failed);
}

void tst_TransferMoves::aStickReadAfreshGivesUpOnlyWhatChanged_data() {
    QTest::addColumn<LoopDisk::Kind>("kind");
    QTest::addColumn<bool>("rewritten");
    QTest::addColumn<Change>("how");
    QTest::newRow("exFAT, unchanged") << LoopDisk::Kind::exfat << false << Change::otherSize;
    QTest::newRow("exFAT, grown") << LoopDisk::Kind::exfat << true << Change::otherSize;
    QTest::newRow("ext4, unchanged") << LoopDisk::Kind::ext4 << false << Change::otherSize;
    QTest::newRow("ext4, rewritten with its date put back")
        << LoopDisk::Kind::ext4 << true << Change::sameSizeAndDate;
}

// a.txt on a stick is copied whole to the phone; while the move copies b.txt, from elsewhere, the
// system forgets what it held of the stick (as it may under memory pressure during a long move),
// and a.txt may be rewritten with its date put back. The move removes a.txt exactly when it is
// still what its copy read, whether the stick's file system numbered it afresh or not.
void tst_TransferMoves::aStickReadAfreshGivesUpOnlyWhatChanged() {
    QFETCH(LoopDisk::Kind, kind);
    QFETCH(bool, rewritten);
    QFETCH(Change, how);
    LoopDisk disk(m_mac + QStringLiteral("/stick"), kind);
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.failure()));
    const QString stick = QStringLiteral("/stick/disk/");
    // A file the stick reads back first: a.txt then comes back under another number where the
    // stick numbers its files as it reads them.
    QVERIFY(writeTestFile(m_mac + stick + QStringLiteral("other.txt"), "other"));
    QVERIFY(writeTestFile(m_mac + stick + QStringLiteral("a.txt"), "old a"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/b.txt"), "old b"));
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst")));
    m_device->faults().holdNext("FILE_OPEN");

    const async::TaskHandle<void> move = moveInBackground(
        *m_manager,
        {item(Side::mac, stick + QStringLiteral("a.txt")), item(Side::mac, QStringLiteral("/b.txt"))},
        location(Side::device, QStringLiteral("/dst")));
    QVERIFY(requestHeld(*m_device));
    m_device->faults().holdNext("FILE_OPEN");
    m_device->faults().passHeld();
    QVERIFY(heldAgain(*m_device, [&] { return QFileInfo::exists(m_media + QStringLiteral("/dst/a.txt")); }));
    const QString source = m_mac + stick + QStringLiteral("a.txt");
    struct stat copied {};
    QCOMPARE(::stat(QFile::encodeName(source).constData(), &copied), 0);
    QVERIFY2(disk.remount(), qPrintable(disk.failure()));
    if (rewritten)
        QVERIFY(change(source, how));
    const QByteArray saved = fileContents(source);
    struct stat now {};
    QCOMPARE(::stat(QFile::encodeName(source).constData(), &now), 0);
    QCOMPARE(now.st_dev, copied.st_dev);
    QCOMPARE(now.st_ino != copied.st_ino, kind == LoopDisk::Kind::exfat);
    m_device->faults().releaseHeld();

    QCOMPARE(outcomeOf(move), rewritten ? QStringLiteral("Move delete phase failed for: a.txt") : QString());
    QCOMPARE(fileContents(source), rewritten ? saved : QByteArray());
    QVERIFY(!QFileInfo::exists(m_mac + QStringLiteral("/b.txt")));
    QCOMPARE(itemsIn(m_media + QStringLiteral("/dst")), (QStringList{"a.txt=old a", "b.txt=old b"}));
}

void tst_TransferMoves::browsersLearnOfSourcesGoneBeforeAMoveEndedShort_data() {
    QTest::addColumn<bool>("cancelled");
    QTest::newRow("failed") << false;
    QTest::newRow("cancelled") << true;
}

// Of three sources on the phone, a.txt goes and then the move ends, failed or cancelled: the
// browsers hear that it went, and the provider lists the folder afresh, without it.
void tst_TransferMoves::browsersLearnOfSourcesGoneBeforeAMoveEndedShort() {
    QFETCH(bool, cancelled);
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/a.txt"), "a"));
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/kept/b.txt"), "b"));
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/kept/c.txt"), "c"));
    QVERIFY(QDir().mkpath(m_mac + QStringLiteral("/dst")));
    const URL folder = location(Side::device, QStringLiteral("/src"));
    QCOMPARE(runSync(m_provider->listDirectory(folder)).size(), 2);
    QStringList deleted;
    const Subscription observer =
        m_notifications.observe(TransferManager::afcFilesDeleted, [&](const Notification& notice) {
            for (const FileItem& gone :
                 notice.userInfo.value(QStringLiteral("items")).value<QList<FileItem>>())
                deleted.append(gone.name());
        });
    if (cancelled)
        m_device->faults().holdNext("REMOVE_PATH");
    else
        m_device->faults().refuseWrites(10, "/src/kept");

    const async::TaskHandle<void> move =
        moveInBackground(*m_manager,
                         {item(Side::device, QStringLiteral("/src/a.txt")),
                          item(Side::device, QStringLiteral("/src/kept/b.txt")),
                          item(Side::device, QStringLiteral("/src/kept/c.txt"))},
                         location(Side::mac, QStringLiteral("/dst")));
    if (cancelled) {
        QVERIFY(requestHeld(*m_device));
        m_device->faults().holdNext("REMOVE_PATH");
        m_device->faults().passHeld();
        QVERIFY(
            heldAgain(*m_device, [&] { return !QFileInfo::exists(m_media + QStringLiteral("/src/a.txt")); }));
        m_manager->cancelTransfer(m_manager->activeTransfers.value().front().id);
        drainPostedEvents();
        m_timers.advance(std::chrono::milliseconds(250));
    }

    QCOMPARE(outcomeOf(move), cancelled ? QStringLiteral("cancelled")
                                        : QStringLiteral("Move delete phase failed for: b.txt, c.txt"));
    QCOMPARE(itemsIn(m_media + QStringLiteral("/src")),
             (QStringList{"kept/", "kept/b.txt=b", "kept/c.txt=c"}));
    const QList<FileItem> listed = runSync(m_provider->listDirectory(folder));
    QCOMPARE(listed.size(), 1);
    QCOMPARE(listed.front().name(), QStringLiteral("kept"));
    QCOMPARE(deleted, QStringList{"a.txt"});
}

ORVANTA_DEVICE_TEST_MAIN(tst_TransferMoves)
#include "tst_TransferMoves.moc"
