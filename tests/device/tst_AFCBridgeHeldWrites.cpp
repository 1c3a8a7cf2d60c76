// A device busy with its own storage stops taking a copy's data for a while. The copy waits for
// it and goes on where it was once the device takes data again, with every byte in place: a few
// seconds, more than the library waits for room in its socket, or longer than the library waits
// for an answer. Cancel during the hold still ends the copy without the device.

#include "device/AFCBridge.h"
#include "device/AFCError.h"
#include "device/AFCSessionSockets.h"
#include "platform/async/Cancellation.h"
#include "platform/async/RunSync.h"

#include "DeviceTestCase.h"
#include "TaskFailure.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <sys/socket.h>

using async::runSync;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
constexpr qint64 mib = 1 << 20;

// How a hold ends: after a few seconds (longer than the library waits for room to send), or once
// the copy has given up on the connection the device holds, which it does only after the
// library's own wait for an answer (half a minute) has passed.
enum class Hold { seconds, pastTheLibrarysWait };

} // namespace

Q_DECLARE_METATYPE(Hold)

class tst_AFCBridgeHeldWrites : public DeviceTestCase {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void heldWriteGoesOnWhenTheDeviceTakesDataAgain_data();
    void heldWriteGoesOnWhenTheDeviceTakesDataAgain();
    void cancelDuringAHoldEndsWithoutTheDevice();

private:
    QString onDevice(const QString& path) const { return m_media + path; }

    fakemux::VirtualDevice* m_device = nullptr;
    QString m_media;
    std::unique_ptr<AFCBridge> m_bridge;
};

void tst_AFCBridgeHeldWrites::init() {
    setUpTest();
    fakemux::DeviceDescription description = describeDevice(udid);
    m_media = QString::fromStdString(description.mediaRoot.string());
    QDir(m_media).mkpath(QStringLiteral("DCIM"));
    m_device = &addDevice(std::move(description));
    m_bridge = std::make_unique<AFCBridge>();
    runSync(m_bridge->connect(udid));
}

void tst_AFCBridgeHeldWrites::cleanup() {
    m_device->faults().releaseWrites();
    m_bridge.reset();
    m_device = nullptr;
    tearDownTest();
}

void tst_AFCBridgeHeldWrites::heldWriteGoesOnWhenTheDeviceTakesDataAgain_data() {
    QTest::addColumn<Hold>("hold");
    QTest::addColumn<int>("sendBuffer");
    // A send buffer of 0 is the one the bridge asks for; a smaller one is what a system grants
    // that allows less than a chunk (net.core.wmem_max), so that each chunk goes in pieces.
    QTest::newRow("held 4 s") << Hold::seconds << 0;
    QTest::newRow("held 4 s, send buffer smaller than a chunk") << Hold::seconds << 64 * 1024;
    QTest::newRow("held past the library's wait for an answer") << Hold::pastTheLibrarysWait << 0;
}

// The device stops taking data after 2 MiB of a 16 MiB upload. Once it takes data again the copy
// goes on and is whole; a hold the library's waits cover needs no new session.
void tst_AFCBridgeHeldWrites::heldWriteGoesOnWhenTheDeviceTakesDataAgain() {
    QFETCH(Hold, hold);
    QFETCH(int, sendBuffer);
    const QByteArray bytes = patternBytes(16 * mib);
    const QString local = scratchPath(QStringLiteral("local")) + QStringLiteral("/clip.mov");
    QVERIFY(writeTestFile(local, bytes));
    if (sendBuffer > 0) {
        const int fd = AFCSessionSockets::socketOf(runSync(m_bridge->afcClient(udid, std::nullopt)));
        QVERIFY(fd >= 0);
        QCOMPARE(::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer), 0);
    }

    fakemux::Faults& faults = m_device->faults();
    faults.stallWrites(2 * mib);
    const size_t startsBefore = serviceStarts();
    async::Task<quint64> upload =
        m_bridge->uploadFile(udid, QStringLiteral("/DCIM/clip.mov"), URL::fileURL(local), std::nullopt);
    QVERIFY(faults.waitUntilWriteStalled());
    if (hold == Hold::seconds)
        QTest::qWait(4000);
    else
        // Twice what the library waits for an answer.
        QVERIFY2(serviceStartedSince(startsBefore, std::chrono::minutes(1)),
                 "the copy never went on over a new session");
    QVERIFY(faults.waitUntilWriteStalled(std::chrono::milliseconds(0)));
    faults.releaseWrites();

    try {
        QCOMPARE(runSync(std::move(upload), std::chrono::seconds(60)), quint64(bytes.size()));
    } catch (const AFCError& error) {
        QFAIL(qPrintable(error.description()));
    } catch (const async::RunSyncTimeout&) {
        QFAIL("the copy never went on");
    }
    QVERIFY(fileContents(onDevice(QStringLiteral("/DCIM/clip.mov"))) == bytes);
    QCOMPARE(QDir(onDevice(QStringLiteral("/DCIM")))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("clip.mov")});
    if (hold == Hold::seconds)
        QCOMPARE(serviceStarts(), startsBefore);
}

// Cancel while the device holds a write: the copy's own connection is cut once the grace has
// passed, and the copy ends cancelled while the device still holds; it does not go on over a
// new session for its cut connection.
void tst_AFCBridgeHeldWrites::cancelDuringAHoldEndsWithoutTheDevice() {
    const QString local = scratchPath(QStringLiteral("local")) + QStringLiteral("/clip.mov");
    QVERIFY(writeTestFile(local, patternBytes(16 * mib)));
    fakemux::Faults& faults = m_device->faults();
    faults.stallWrites();
    const size_t startsBefore = serviceStarts();
    std::stop_source cancel;
    async::Task<quint64> upload = m_bridge->uploadFile(
        udid, QStringLiteral("/DCIM/clip.mov"), URL::fileURL(local), std::nullopt, {}, cancel.get_token());
    QVERIFY(faults.waitUntilWriteStalled());
    cancel.request_stop();

    QVERIFY(failureOf<async::CancelledError>(std::move(upload)));
    QVERIFY(faults.waitUntilWriteStalled(std::chrono::milliseconds(0)));
    QCOMPARE(serviceStarts(), startsBefore);
    QVERIFY(!QFileInfo::exists(onDevice(QStringLiteral("/DCIM/clip.mov"))));
}

ORVANTA_DEVICE_TEST_MAIN(tst_AFCBridgeHeldWrites)

#include "tst_AFCBridgeHeldWrites.moc"
