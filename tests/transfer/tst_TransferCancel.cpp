// Cancelling a copy whose device has stopped answering: the device holds a read of the copy (or
// stops taking its writes, or leaves any other request of the transfer unanswered) and never lets
// go while the copy runs, yet Cancel ends the transfer within a second, with nothing partial left
// on this computer.

#include "transfer/TransferManager.h"

#include "EventLoop.h"
#include "LogCapture.h"
#include "TestFiles.h"
#include "TransferTestCase.h"

#include "device/AFCError.h"
#include "device/AFCLocation.h"
#include "device/LeftoverJournal.h"
#include "platform/async/RunSync.h"
#include "platform/async/TaskHandle.h"
#include "services/FileSystemProvider.h"
#include "services/PreferencesViewController.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr qint64 mib = 1 << 20;

// Counts the transfer engine's looks at device items: once the count has grown, the transfer that
// looked is waiting on the device.
class CountingProvider : public FileSystemProvider {
public:
    using FileSystemProvider::FileSystemProvider;
    int looks = 0;

    async::Task<FileItem> afcItem(URL at, std::shared_ptr<AFCBridge> through) override {
        ++looks;
        return FileSystemProvider::afcItem(std::move(at), std::move(through));
    }
};

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs the loop until the device holds the request of operation that holdNext armed.
bool operationHeld(fakemux::VirtualDevice& device, const std::string& operation) {
    const std::string armed = "hold-next " + operation;
    QDeadlineTimer limit(20000);
    while (!limit.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const bool held = device.faults().waitUntilHeld(std::chrono::milliseconds(1));
        const std::vector<std::string> on = device.faults().active();
        if (held && std::find(on.begin(), on.end(), armed) == on.end())
            return true;
    }
    return false;
}

// The finished record of the transfer that is not the one with id.
std::optional<Transfer> otherRecord(const QList<Transfer>& records, const QUuid& id) {
    for (const Transfer& record : records) {
        if (record.id != id)
            return record;
    }
    return std::nullopt;
}

} // namespace

using Side = TransferTestCase::Side;

class tst_TransferCancel : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init() { setUpTransfers(); }
    void cleanup() {
        m_device->faults().releaseReads();
        m_device->faults().releaseWrites();
        m_device->faults().releaseHeld();
        tearDownTransfers();
    }

    void cancelEndsACopyTheDeviceHolds_data();
    void cancelEndsACopyTheDeviceHolds();
    void cancelEndsAnyRequestTheDeviceHolds_data();
    void cancelEndsAnyRequestTheDeviceHolds();
    void cancelLeavesOtherWorkOnTheDevice_data();
    void cancelLeavesOtherWorkOnTheDevice();
    void aReplaceCancelledOnASlowSessionPutsTheOldItemBack();
    void aSessionStartTheDeviceNeverAnswersIsGivenUp();
    void anotherChecksReadingGoesOnOverTheNewSession_data();
    void anotherChecksReadingGoesOnOverTheNewSession();
    void workMadeDuringACancelledCheckIsLeftAlone_data();
    void workMadeDuringACancelledCheckIsLeftAlone();

private:
    std::shared_ptr<CountingProvider> countLooks();
    // Starts a Replace of /dst/a.txt on the phone whose write the phone holds, cancels it and lets
    // its grace pass: the old item's put-back then needs a new session, whose start the phone holds.
    std::optional<Transfer> cancelAReplaceUntilItsSessionStart();
};

void tst_TransferCancel::cancelEndsACopyTheDeviceHolds_data() {
    QTest::addColumn<Side>("from");
    QTest::addColumn<Side>("to");
    QTest::newRow("held read") << Side::device << Side::mac;
    QTest::newRow("held write") << Side::mac << Side::device;
}

void tst_TransferCancel::cancelEndsACopyTheDeviceHolds() {
    QFETCH(Side, from);
    QFETCH(Side, to);
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/clip.mov"), patternBytes(4 * mib)));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));
    if (from == Side::device)
        m_device->faults().gateReads(mib);
    else
        m_device->faults().stallWrites();

    const Transfer started =
        launched({item(from, QStringLiteral("/src/clip.mov"))}, location(to, QStringLiteral("/dst")));
    QVERIFY(from == Side::device ? readHeld() : writeStalled());
    // The partial file beside the target is written down while it is there: were the program
    // killed now, the next start would remove it.
    const auto partialsOnThisComputer = [this] {
        QStringList paths;
        for (const LeftoverJournal::Entry& entry : LeftoverJournal::shared()->entries()) {
            if (entry.udid.isEmpty() && entry.path.startsWith(m_mac + QLatin1Char('/')))
                paths.append(entry.path);
        }
        return paths;
    };
    if (to == Side::mac) {
        const QStringList running = partialsOnThisComputer();
        QCOMPARE(running.size(), 1);
        QCOMPARE(QFileInfo(running.front()).path(), root(to) + QStringLiteral("/dst"));
        QVERIFY(QFileInfo::exists(running.front()));
    }

    QElapsedTimer cancelling;
    cancelling.start();
    m_manager->cancelTransfer(started.id);
    // The device keeps holding on: only cutting its connection ends the copy.
    QTRY_VERIFY_WITH_TIMEOUT(!m_manager->completedTransfers.value().isEmpty(), 20000);
    QVERIFY2(cancelling.elapsed() < 1000, qPrintable(QString::number(cancelling.elapsed())));
    QCOMPARE(m_manager->completedTransfers.value().front().state, TransferState::cancelled);
    QVERIFY(m_manager->activeTransfers.value().isEmpty());
    QCOMPARE(m_manager->runningTransferTasks(), 0);
    if (to == Side::mac) {
        QCOMPARE(treeOf(root(to) + QStringLiteral("/dst")), QStringList());
        // Struck out by the copy's job as it ends, just after the file went.
        QTRY_COMPARE_WITH_TIMEOUT(partialsOnThisComputer(), QStringList(), 20000);
    }
}

void tst_TransferCancel::cancelEndsAnyRequestTheDeviceHolds_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<Side>("from");
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("replace");
    // The transfer's first session, the folder's own making, the look at the place a file goes, the
    // old item set aside for a Replace, a staged file's link and the staging folder's removal, the
    // listing of a device folder, and a file's own copy.
    QTest::newRow("session started") << "StartService" << Side::mac << "/src/Album/a.txt" << false;
    QTest::newRow("folder made") << "MAKE_DIR" << Side::mac << "/src/Album" << false;
    QTest::newRow("place looked at") << "GET_FILE_INFO" << Side::mac << "/src/Album/a.txt" << false;
    QTest::newRow("old item set aside") << "RENAME_PATH" << Side::mac << "/src/Album/a.txt" << true;
    QTest::newRow("staged file linked") << "MAKE_LINK" << Side::mac << "/src/Album" << false;
    QTest::newRow("staging folder removed")
        << "REMOVE_PATH_AND_CONTENTS" << Side::mac << "/src/Album" << false;
    QTest::newRow("source folder listed") << "READ_DIR" << Side::device << "/src/Album" << false;
    QTest::newRow("file opened") << "FILE_OPEN" << Side::mac << "/src/Album/a.txt" << false;
}

// The device leaves one request of the transfer unanswered for good. Once Cancel was pressed and
// the cut's grace has passed on the transfer's clock, the transfer ends cancelled while the device
// still holds the request: nothing waits on its answer.
void tst_TransferCancel::cancelEndsAnyRequestTheDeviceHolds() {
    QFETCH(QString, operation);
    QFETCH(Side, from);
    QFETCH(QString, source);
    QFETCH(bool, replace);
    const Side to = from == Side::mac ? Side::device : Side::mac;
    for (const QString& name : {QStringLiteral("a.txt"), QStringLiteral("b.txt")})
        QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/Album/") + name, "new"));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));
    if (replace) {
        QVERIFY(writeTestFile(root(to) + QStringLiteral("/dst/a.txt"), "old"));
        m_prompter->answers = {answer(ConflictResolution::replace)};
    }
    m_device->faults().holdNext(operation.toStdString());

    const Transfer started = launched({item(from, source)}, location(to, QStringLiteral("/dst")));
    QVERIFY(requestHeld(*m_device));
    m_manager->cancelTransfer(started.id);
    drainPostedEvents();
    m_timers.advance(std::chrono::milliseconds(250));

    try {
        async::runSync(m_manager->waitForTransfer(started.id), std::chrono::seconds(20));
    } catch (const async::RunSyncTimeout&) {
        QFAIL("the transfer still waits on the device");
    } catch (...) {
    }
    drainPostedEvents();
    QVERIFY(m_device->faults().waitUntilHeld(std::chrono::milliseconds(0)));
    QCOMPARE(m_manager->completedTransfers.value().front().state, TransferState::cancelled);
    QCOMPARE(m_manager->runningTransferTasks(), 0);
}

std::shared_ptr<CountingProvider> tst_TransferCancel::countLooks() {
    auto provider = std::make_shared<CountingProvider>(*m_bridge, m_clock);
    m_manager->setFileSystemProvider(provider);
    m_provider = provider;
    return provider;
}

void tst_TransferCancel::cancelLeavesOtherWorkOnTheDevice_data() {
    QTest::addColumn<bool>("otherIsCopy");
    QTest::newRow("another copy's write") << true;
    QTest::newRow("a browser's listing") << false;
}

// The device is slow with someone else's request (another copy's write, a browser's listing) and a
// transfer waiting behind it is cancelled. Its grace passes while it still waits, yet the other
// work goes on untouched, and a listing asked for during the cancel is answered: the cancelled
// transfer's requests were never sent, so there is nothing to cut for.
void tst_TransferCancel::cancelLeavesOtherWorkOnTheDevice() {
    QFETCH(bool, otherIsCopy);
    const std::shared_ptr<CountingProvider> provider = countLooks();
    const QByteArray big = patternBytes(3 * mib);
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/big.mov"), big));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/small.txt"), "small"));
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst")));
    const URL folder = location(Side::device, QStringLiteral("/dst"));

    Transfer other;
    std::optional<async::Task<QList<FileItem>>> slowListing;
    if (otherIsCopy) {
        m_device->faults().stallWrites();
        other = launched({item(Side::mac, QStringLiteral("/src/big.mov"))}, folder);
        QVERIFY(writeStalled());
    } else {
        m_device->faults().holdNext("READ_DIR");
        slowListing.emplace(m_provider->listDirectory(folder));
        QVERIFY(requestHeld(*m_device));
    }
    const int looksBefore = provider->looks;
    const Transfer cancelled = launched({item(Side::mac, QStringLiteral("/src/small.txt"))}, folder);
    QTRY_VERIFY_WITH_TIMEOUT(provider->looks > looksBefore, 20000);
    m_manager->cancelTransfer(cancelled.id);
    async::Task<QList<FileItem>> listing =
        m_provider->listDirectory(location(Side::device, QStringLiteral("/")));
    drainPostedEvents();
    m_timers.advance(std::chrono::seconds(1));
    drainPostedEvents();
    m_device->faults().releaseWrites();
    m_device->faults().releaseHeld();

    try {
        async::runSync(std::move(listing), std::chrono::seconds(20));
        if (slowListing)
            async::runSync(std::move(*slowListing), std::chrono::seconds(20));
    } catch (const AFCError& error) {
        QFAIL(qPrintable(QStringLiteral("a listing failed: ") + error.description()));
    }
    if (otherIsCopy) {
        const Transfer copied = finished(other.id);
        QCOMPARE(copied.state, TransferState::completed);
        QVERIFY(contentOf(m_media + QStringLiteral("/dst/big.mov")) == big);
    }
    QCOMPARE(finished(cancelled.id).state, TransferState::cancelled);
    QVERIFY(!QFileInfo::exists(m_media + QStringLiteral("/dst/small.txt")));
}

std::optional<Transfer> tst_TransferCancel::cancelAReplaceUntilItsSessionStart() {
    if (!writeTestFile(m_mac + QStringLiteral("/src/a.txt"), patternBytes(2 * mib)) ||
        !writeTestFile(m_media + QStringLiteral("/dst/a.txt"), "old"))
        return std::nullopt;
    m_prompter->answers = {answer(ConflictResolution::replace)};
    m_device->faults().stallWrites();
    const Transfer started = launched({item(Side::mac, QStringLiteral("/src/a.txt"))},
                                      location(Side::device, QStringLiteral("/dst")));
    if (!writeStalled())
        return std::nullopt;
    m_device->faults().holdNext("StartService");

    m_manager->cancelTransfer(started.id);
    drainPostedEvents();
    m_timers.advance(std::chrono::milliseconds(250));
    if (!requestHeld(*m_device))
        return std::nullopt;
    return started;
}

// A Replace is cancelled while the device holds its copy's write: the copy's connection is cut, and
// the old item must come back over a new session, which this device is slow to start. Its
// put-back gets its whole grace once the session answers, so the old item is back when the
// transfer ends, not only at some later session.
void tst_TransferCancel::aReplaceCancelledOnASlowSessionPutsTheOldItemBack() {
    const LogCapture logs;
    const std::optional<Transfer> started = cancelAReplaceUntilItsSessionStart();
    QVERIFY(started);
    // The session takes most of a grace to start, and then the device is slow with the put-back
    // itself: the put-back's grace began only when the session answered.
    drainPostedEvents();
    m_timers.advance(std::chrono::milliseconds(200));
    m_device->faults().holdNext("MAKE_LINK");
    m_device->faults().passHeld();
    // The start let go of counts as held until its thread wakes: wait for the put-back itself.
    QVERIFY(operationHeld(*m_device, "MAKE_LINK"));
    drainPostedEvents();
    m_timers.advance(std::chrono::milliseconds(100));
    drainPostedEvents();
    m_device->faults().releaseHeld();
    QTRY_COMPARE_WITH_TIMEOUT(m_manager->runningTransferTasks(), 0, 20000);
    QCOMPARE(itemsIn(m_media + QStringLiteral("/dst")), QStringList{QStringLiteral("a.txt=old")});
    // The copy's own write was cut, and nothing after it.
    const QStringList cuts = logs.messages(LogCapture::category(QStringLiteral("bridge")))
                                 .filter(QStringLiteral("still unanswered"));
    QCOMPARE(cuts.size(), 1);
}

// As above, but the device never answers the new session's start. The start is given up once the
// transfer's grace has passed since it began, as any request of the transfer would be, so the
// transfer ends cancelled while the device still holds it; the old item waits under its hidden name
// for the next session, which puts it back. The bridge's one request at a time is free again for
// the listings asked for meanwhile: another device's, and the phone's over a session of its own.
void tst_TransferCancel::aSessionStartTheDeviceNeverAnswersIsGivenUp() {
    const QString otherUdid = QStringLiteral("00008110-00AA2B3C4D5E6F71");
    fakemux::DeviceDescription description = describeDevice(otherUdid, QStringLiteral("Other iPhone"));
    const QString otherMedia = QString::fromStdString(description.mediaRoot.string());
    addDevice(std::move(description));
    QVERIFY(writeTestFile(otherMedia + QStringLiteral("/seen.txt"), "seen"));
    const LogCapture logs;
    const std::optional<Transfer> started = cancelAReplaceUntilItsSessionStart();
    QVERIFY(started);
    async::Task<QList<FileItem>> otherListing =
        m_provider->listDirectory(AFCLocation::mediaURL(otherUdid, QStringLiteral("/")));
    async::Task<QList<FileItem>> phoneListing =
        m_provider->listDirectory(location(Side::device, QStringLiteral("/")));
    drainPostedEvents();
    m_timers.advance(std::chrono::milliseconds(250));

    QTRY_COMPARE_WITH_TIMEOUT(m_manager->runningTransferTasks(), 0, 20000);
    QCOMPARE(finished(started->id).state, TransferState::cancelled);
    QList<FileItem> other;
    QList<FileItem> phone;
    try {
        other = async::runSync(std::move(otherListing), std::chrono::seconds(20));
        phone = async::runSync(std::move(phoneListing), std::chrono::seconds(20));
    } catch (const Error& error) {
        QFAIL(qPrintable(QStringLiteral("a listing failed: ") + error.description()));
    } catch (...) {
        QFAIL("a listing did not end");
    }
    QCOMPARE(other.size(), 1);
    QVERIFY(!phone.isEmpty());
    // All of it while the device still held the start.
    QVERIFY(m_device->faults().waitUntilHeld(std::chrono::milliseconds(0)));
    QVERIFY(logs.messages(LogCapture::category(QStringLiteral("transfer")))
                .filter(QStringLiteral("is left for a later clean-up"))
                .size() == 1);
    m_device->faults().releaseHeld();

    // The next session of the device puts the old item back.
    async::runSync(m_bridge->disconnectAll(udid), std::chrono::seconds(20));
    async::runSync(m_bridge->connect(udid), std::chrono::seconds(20));
    QCOMPARE(itemsIn(m_media + QStringLiteral("/dst")), QStringList{QStringLiteral("a.txt=old")});
}

void tst_TransferCancel::anotherChecksReadingGoesOnOverTheNewSession_data() {
    QTest::addColumn<bool>("move");
    QTest::newRow("a copy's check") << false;
    QTest::newRow("a move's check") << true;
}

// A copy from the phone checks itself by reading its source again while another transfer, which the
// phone's held write keeps waiting, is cancelled. Cutting that write's connection ends the cancelled
// transfer only: the check reads on over a new session from where it was, the copy is verified, and
// a move then removes its source.
void tst_TransferCancel::anotherChecksReadingGoesOnOverTheNewSession() {
    QFETCH(bool, move);
    PreferencesViewController::defaults().set(PreferencesViewController::verifyTransfersKey, true);
    const QByteArray clip = patternBytes(24 * mib);
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/clip.mov"), clip));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/small.bin"), patternBytes(2 * mib)));
    QVERIFY(QDir().mkpath(m_mac + QStringLiteral("/dst")));
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst")));
    // The transfer to be cancelled starts as the check begins: its write reaches the device
    // between the check's reads.
    std::optional<Transfer> cancelled;
    m_manager->setBeforeVerification([&](const URL& source, const URL&) {
        if (cancelled || source.scheme() != QLatin1String("afc"))
            return;
        m_device->faults().stallWrites();
        cancelled = launched({item(Side::mac, QStringLiteral("/src/small.bin"))},
                             location(Side::device, QStringLiteral("/dst")));
    });
    const FileItem source = item(Side::device, QStringLiteral("/src/clip.mov"));
    const URL destination = location(Side::mac, QStringLiteral("/dst"));
    std::optional<Transfer> checked;
    std::optional<async::TaskHandle<void>> moving;
    if (move) {
        TransferManager& manager = *m_manager;
        moving = async::spawn([&manager, source, destination](std::stop_token) -> async::Task<void> {
            async::Task<void> running = manager.moveItems({source}, destination);
            co_await running;
        });
    } else {
        checked = launched({source}, destination);
    }
    QVERIFY(writeStalled());
    QVERIFY(cancelled);
    // The check is still reading: its next read waits behind the held write.
    QCOMPARE(m_manager->activeTransfers.value().size(), 2);

    m_manager->cancelTransfer(cancelled->id);
    drainPostedEvents();
    m_timers.advance(std::chrono::milliseconds(250));
    QCOMPARE(finished(cancelled->id).state, TransferState::cancelled);
    if (moving) {
        try {
            async::runSync(moving->result(), std::chrono::seconds(20));
        } catch (const Error& error) {
            QFAIL(qPrintable(QStringLiteral("the move failed: ") + error.description()));
        }
    } else {
        finished(checked->id);
    }
    drainPostedEvents();
    const std::optional<Transfer> done = otherRecord(m_manager->completedTransfers.value(), cancelled->id);
    QVERIFY(done);
    QCOMPARE(done->state, TransferState::completed);
    QCOMPARE(done->reportEntries.size(), 1);
    QCOMPARE(done->reportEntries.front().verificationOutcome(), TransferVerificationOutcome::verified);
    QVERIFY(contentOf(m_mac + QStringLiteral("/dst/clip.mov")) == clip);
    QCOMPARE(QFileInfo::exists(m_media + QStringLiteral("/src/clip.mov")), !move);
}

void tst_TransferCancel::workMadeDuringACancelledCheckIsLeftAlone_data() {
    QTest::addColumn<QString>("operation");
    QTest::newRow("a browser's listing") << "READ_DIR";
    QTest::newRow("a delete") << "REMOVE_PATH";
}

// While a copy checks itself, the device holds someone else's request (a browser's listing, a
// delete the user made) and the copy is cancelled. Its grace passes, yet that request is not the
// copy's: it is answered once the device answers, and the copy ends cancelled.
void tst_TransferCancel::workMadeDuringACancelledCheckIsLeftAlone() {
    QFETCH(QString, operation);
    PreferencesViewController::defaults().set(PreferencesViewController::verifyTransfersKey, true);
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/clip.mov"), patternBytes(4 * mib)));
    QVERIFY(writeTestFile(m_media + QStringLiteral("/other.txt"), "other"));
    QVERIFY(QDir().mkpath(m_mac + QStringLiteral("/dst")));
    const FileItem other = item(Side::device, QStringLiteral("/other.txt"));
    const bool listing = operation == QLatin1String("READ_DIR");
    std::optional<async::TaskHandle<void>> work;
    QList<FileItem> listed;
    m_manager->setBeforeVerification([&](const URL&, const URL&) {
        if (work)
            return;
        m_device->faults().holdNext(operation.toStdString());
        const std::shared_ptr<FileSystemProvider> provider = m_provider;
        const URL root = location(Side::device, QStringLiteral("/"));
        QList<FileItem>* into = &listed;
        work = async::spawn([provider, root, other, listing, into](std::stop_token) -> async::Task<void> {
            if (listing) {
                async::Task<QList<FileItem>> reading = provider->listDirectory(root);
                *into = co_await reading;
            } else {
                async::Task<void> deleting = provider->deleteItem(other);
                co_await deleting;
            }
        });
    });
    const Transfer checked = launched({item(Side::device, QStringLiteral("/src/clip.mov"))},
                                      location(Side::mac, QStringLiteral("/dst")));
    QVERIFY(requestHeld(*m_device));
    QVERIFY(work);

    m_manager->cancelTransfer(checked.id);
    drainPostedEvents();
    m_timers.advance(std::chrono::seconds(1));
    drainPostedEvents();
    m_device->faults().releaseHeld();
    try {
        async::runSync(work->result(), std::chrono::seconds(20));
    } catch (const Error& error) {
        QFAIL(qPrintable(QStringLiteral("the other work failed: ") + error.description()));
    }
    if (listing)
        QVERIFY(!listed.isEmpty());
    else
        QVERIFY(!QFileInfo::exists(m_media + QStringLiteral("/other.txt")));
    QCOMPARE(finished(checked.id).state, TransferState::cancelled);
}

ORVANTA_DEVICE_TEST_MAIN(tst_TransferCancel)
#include "tst_TransferCancel.moc"
