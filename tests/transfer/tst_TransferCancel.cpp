// Cancelling a copy whose device has stopped answering: the device holds a read of the copy (or
// stops taking its writes, or leaves any other request of the transfer unanswered) and never lets
// go while the copy runs, yet Cancel ends the transfer within a second, with nothing partial left
// on this computer.

#include "transfer/TransferManager.h"

#include "EventLoop.h"
#include "TestFiles.h"
#include "TransferTestCase.h"

#include "platform/async/RunSync.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>

namespace {

constexpr qint64 mib = 1 << 20;

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

ORVANTA_DEVICE_TEST_MAIN(tst_TransferCancel)
#include "tst_TransferCancel.moc"
