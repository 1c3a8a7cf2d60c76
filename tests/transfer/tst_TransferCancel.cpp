// Cancelling a copy whose device has stopped answering: the device holds a read of the copy (or
// stops taking its writes) and never lets go while the copy runs, yet Cancel ends the transfer
// within a second, with nothing partial left on this computer.

#include "transfer/TransferManager.h"

#include "TestFiles.h"
#include "TransferTestCase.h"

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
        tearDownTransfers();
    }

    void cancelEndsACopyTheDeviceHolds_data();
    void cancelEndsACopyTheDeviceHolds();
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

ORVANTA_DEVICE_TEST_MAIN(tst_TransferCancel)
#include "tst_TransferCancel.moc"
