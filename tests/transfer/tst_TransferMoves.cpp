// What a move leaves when something happens around it: another program writing where the moved
// item goes, a device that will not link or will not let the old name go, a device that stops
// answering while the sources are removed. Nothing anyone wrote is lost, and the move's last steps
// are the transfer's: shown, cancellable, and reported when they fail.

#include "platform/FileRename.h"
#include "platform/async/RunSync.h"
#include "platform/async/TaskHandle.h"

#include "EventLoop.h"
#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <memory>

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

} // namespace

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

ORVANTA_DEVICE_TEST_MAIN(tst_TransferMoves)
#include "tst_TransferMoves.moc"
