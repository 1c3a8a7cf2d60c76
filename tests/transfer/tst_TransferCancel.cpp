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
#include "platform/async/RunSync.h"
#include "services/FileSystemProvider.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <optional>

namespace {

constexpr qint64 mib = 1 << 20;

// Counts the transfer engine's looks at device items: once the count has grown, the transfer that
// looked is waiting on the device.
class CountingProvider : public FileSystemProvider {
public:
    using FileSystemProvider::FileSystemProvider;
    int looks = 0;

    async::Task<FileItem> afcItem(URL at) override {
        ++looks;
        return FileSystemProvider::afcItem(std::move(at));
    }
};

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

private:
    std::shared_ptr<CountingProvider> countLooks();
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

    QElapsedTimer cancelling;
    cancelling.start();
    m_manager->cancelTransfer(started.id);
    // The device keeps holding on: only cutting its connection ends the copy.
    QTRY_VERIFY_WITH_TIMEOUT(!m_manager->completedTransfers.value().isEmpty(), 20000);
    QVERIFY2(cancelling.elapsed() < 1000, qPrintable(QString::number(cancelling.elapsed())));
    QCOMPARE(m_manager->completedTransfers.value().front().state, TransferState::cancelled);
    QVERIFY(m_manager->activeTransfers.value().isEmpty());
    QCOMPARE(m_manager->runningTransferTasks(), 0);
    if (to == Side::mac)
        QCOMPARE(treeOf(root(to) + QStringLiteral("/dst")), QStringList());
}

void tst_TransferCancel::cancelEndsAnyRequestTheDeviceHolds_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<Side>("from");
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("replace");
    // The folder's own making, the look at the place a file goes, the old item set aside for a
    // Replace, a staged file's link and the staging folder's removal, the listing of a device
    // folder, and a file's own copy.
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

// A Replace is cancelled while the device holds its copy's write: the copy's connection is cut, and
// the old item must come back over a new session, which this device is slow to start. Its
// put-back gets its whole grace once the session answers, so the old item is back when the
// transfer ends, not only at some later session.
void tst_TransferCancel::aReplaceCancelledOnASlowSessionPutsTheOldItemBack() {
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/a.txt"), patternBytes(2 * mib)));
    QVERIFY(writeTestFile(m_media + QStringLiteral("/dst/a.txt"), "old"));
    m_prompter->answers = {answer(ConflictResolution::replace)};
    const LogCapture logs;
    m_device->faults().stallWrites();
    const Transfer started = launched({item(Side::mac, QStringLiteral("/src/a.txt"))},
                                      location(Side::device, QStringLiteral("/dst")));
    QVERIFY(writeStalled());
    m_device->faults().holdNext("StartService");

    m_manager->cancelTransfer(started.id);
    drainPostedEvents();
    m_timers.advance(std::chrono::milliseconds(250));
    // The put-back needs a new session, whose start the device holds.
    QVERIFY(requestHeld(*m_device));
    // The session takes most of a grace to start, and then the device is slow with the put-back
    // itself: the put-back's grace began only when the session answered.
    drainPostedEvents();
    m_timers.advance(std::chrono::milliseconds(200));
    m_device->faults().holdNext("MAKE_LINK");
    m_device->faults().passHeld();
    QVERIFY(requestHeld(*m_device));
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

ORVANTA_DEVICE_TEST_MAIN(tst_TransferCancel)
#include "tst_TransferCancel.moc"
