#include "device/AFCBridge.h"
#include "device/AFCBridgeCore.h"
#include "device/AFCError.h"
#include "platform/ManualUiTimerSource.h"
#include "platform/URL.h"

#include "DeviceTestCase.h"
#include "EventLoop.h"
#include "RequestCount.h"
#include "TaskFailure.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>

using async::runSync;
using Case = AFCError::Case;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
constexpr qint64 mib = 1 << 20;

} // namespace

// A device that goes away while an operation runs must fail that operation as a whole: a short
// listing or a half-removed tree reported as success would let a copy or a move lose files.
class tst_AFCBridgeLostDevice : public DeviceTestCase {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void resultsThatMeanTheConnectionIsGone_data();
    void resultsThatMeanTheConnectionIsGone();
    void operationFailsWholeWhenDeviceGoes_data();
    void operationFailsWholeWhenDeviceGoes();
    void replugGetsANewSession_data();
    void replugGetsANewSession();
    void silentDeviceHoldsNobody_data();
    void silentDeviceHoldsNobody();
    void aBridgeAStuckTaskStillHoldsStopsAtTheEnd();
    void aCancelCutsOnlyItsOwnRequest_data();
    void aCancelCutsOnlyItsOwnRequest();
    void anotherStreamReadsOnAfterTheCut();

private:
    QString onDevice(const QString& path) const { return m_media + path; }
    // Runs the named operation to its end; the error it failed with, if an AFCError.
    std::optional<AFCError> run(const QString& operation);

    fakemux::VirtualDevice* m_device = nullptr;
    QString m_media;
    std::unique_ptr<AFCBridge> m_bridge;
};

void tst_AFCBridgeLostDevice::init() {
    setUpTest();
    fakemux::DeviceDescription description = describeDevice(udid);
    m_media = QString::fromStdString(description.mediaRoot.string());
    m_device = &addDevice(std::move(description));
    m_bridge = std::make_unique<AFCBridge>();
    runSync(m_bridge->connect(udid));
}

void tst_AFCBridgeLostDevice::cleanup() {
    m_device->faults().releaseHeld();
    m_bridge.reset();
    m_device = nullptr;
    tearDownTest();
}

void tst_AFCBridgeLostDevice::resultsThatMeanTheConnectionIsGone_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("lost");
    // The library's own answers when the socket fails, a reply is cut short or garbled, or the
    // service stops answering.
    for (int result : {30, 2, 12})
        QTest::addRow("%d lost", result) << result << true;
    // What a device answers about one entry, or about its own state, while still connected.
    for (int result : {0, 8, 18})
        QTest::addRow("%d entry-level", result) << result << false;
}

void tst_AFCBridgeLostDevice::resultsThatMeanTheConnectionIsGone() {
    QFETCH(int, result);
    QFETCH(bool, lost);
    QCOMPARE(AFCError::meansLostConnection(result), lost);
    QCOMPARE(AFCError::fromLibrary(Case::fileReadFailed, "afc_file_read", result).isConnectionLost(), lost);
}

void tst_AFCBridgeLostDevice::operationFailsWholeWhenDeviceGoes_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("replies");      // answered before the device goes; 0: gone before the call
    QTest::addColumn<QList<int>>("cases"); // the error cases the operation may fail with

    const auto cases = [](std::initializer_list<Case> list) {
        QList<int> result;
        for (Case c : list)
            result.append(int(c));
        return result;
    };
    struct Operation {
        const char* name;
        int middle; // a reply half way through; 0 for a single request
        QList<int> cases;
    };
    const Operation operations[] = {
        {"list a large folder", 150, cases({Case::directoryListFailed})},
        {"remove a tree", 40, cases({Case::directoryListFailed, Case::deleteFailed})},
        {"stream a file", 3, cases({Case::fileOpenFailed, Case::fileReadFailed})},
    };
    for (const Operation& operation : operations) {
        QTest::addRow("%s, gone before", operation.name) << operation.name << 0 << operation.cases;
        // A single request is either answered or not: there is no after or midway.
        if (operation.middle == 0)
            continue;
        QTest::addRow("%s, gone after the first reply", operation.name)
            << operation.name << 1 << operation.cases;
        QTest::addRow("%s, gone midway", operation.name)
            << operation.name << operation.middle << operation.cases;
    }
}

void tst_AFCBridgeLostDevice::operationFailsWholeWhenDeviceGoes() {
    QFETCH(QString, operation);
    QFETCH(int, replies);
    QFETCH(QList<int>, cases);
    for (int i = 0; i < 300; ++i)
        QVERIFY(writeTestFile(onDevice(QStringLiteral("/Big/%1.jpg").arg(i)), "x"));
    for (int i = 0; i < 30; ++i)
        QVERIFY(writeTestFile(onDevice(QStringLiteral("/Tree/%1/%2.jpg").arg(i % 3).arg(i)), "x"));
    QVERIFY(writeTestFile(onDevice(QStringLiteral("/clip.mov")), patternBytes(6 * mib)));
    if (replies == 0)
        m_device->unplug();
    else
        m_device->faults().unplugAfterAfcReplies(replies);

    const std::optional<AFCError> error = run(operation);

    QVERIFY2(error, "the operation reported success");
    QVERIFY2(error->isConnectionLost(), qPrintable(error->description()));
    QVERIFY2(cases.contains(int(error->errorCase())), qPrintable(error->description()));
}

void tst_AFCBridgeLostDevice::replugGetsANewSession_data() {
    QTest::addColumn<bool>("usedBeforeReconnect");
    // The browsers open the session before every use; other callers may use it straight away.
    QTest::newRow("connect first") << false;
    QTest::newRow("used first") << true;
}

// A cable pulled and put back between two uses: the old session is dead, and the device must be
// usable again without the application being restarted.
void tst_AFCBridgeLostDevice::replugGetsANewSession() {
    QFETCH(bool, usedBeforeReconnect);
    QVERIFY(writeTestFile(onDevice(QStringLiteral("/DCIM/a.jpg")), "x"));
    const std::optional<QString> media;
    QVERIFY(m_bridge->isConnected(udid));
    m_device->unplug();
    m_device->plug();
    QVERIFY(!m_bridge->isConnected(udid));

    if (usedBeforeReconnect) {
        const auto error = failureOf<AFCError>(m_bridge->listDirectory(udid, QStringLiteral("/DCIM"), media));
        QVERIFY(error && error->isConnectionLost());
        // Forgotten at once: the next use asks for a new session instead of failing on the dead one.
        QCOMPARE(failureOf<AFCError>(m_bridge->afcClient(udid, media))->errorCase(), Case::notConnected);
    }
    runSync(m_bridge->connect(udid));
    QVERIFY(m_bridge->isConnected(udid));
    QCOMPARE(runSync(m_bridge->listDirectory(udid, QStringLiteral("/DCIM"), media)).size(), 1);
}

void tst_AFCBridgeLostDevice::silentDeviceHoldsNobody_data() {
    QTest::addColumn<bool>("writing");
    QTest::addColumn<bool>("destroy"); // false: the device is given up and its sessions closed
    for (const bool writing : {false, true}) {
        for (const bool destroy : {true, false}) {
            QTest::addRow("%s stalled, %s", writing ? "write" : "read",
                          destroy ? "bridge destroyed" : "sessions closed")
                << writing << destroy;
        }
    }
}

// A device that stops answering mid-copy must not hold the caller: the library would wait 30 s
// on a read and without end on a write.
void tst_AFCBridgeLostDevice::silentDeviceHoldsNobody() {
    QFETCH(bool, writing);
    QFETCH(bool, destroy);
    const QString local = scratchPath(QStringLiteral("local")) + QStringLiteral("/clip.mov");
    QVERIFY(writeTestFile(writing ? local : onDevice(QStringLiteral("/clip.mov")), patternBytes(8 * mib)));
    fakemux::Faults& faults = m_device->faults();
    const std::optional<QString> media;
    std::optional<async::Task<quint64>> copy;
    if (writing) {
        faults.stallWrites();
        copy.emplace(m_bridge->uploadFile(udid, QStringLiteral("/clip.mov"), URL::fileURL(local), media));
        QVERIFY(faults.waitUntilWriteStalled());
    } else {
        faults.gateReads(mib);
        copy.emplace(m_bridge->download(udid, QStringLiteral("/clip.mov"), URL::fileURL(local), media, {}));
        QVERIFY(faults.waitUntilReadHeld());
    }

    QElapsedTimer timer;
    timer.start();
    if (destroy) {
        m_bridge.reset();
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    } else {
        m_bridge->interrupt(udid);
        runSync(m_bridge->disconnectAll(udid), std::chrono::seconds(1));
    }
    // The copy fails (or is cancelled with its bridge) and leaves nothing behind.
    bool failed = false;
    try {
        runSync(std::move(*copy), std::chrono::seconds(5));
    } catch (...) {
        failed = true;
    }
    QVERIFY(failed);
    QVERIFY(!destroy || !m_bridge);
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QTRY_COMPARE(AFCBridgeCore::retiredCoresRunning(), 0);
    if (!writing)
        QVERIFY(!QFileInfo::exists(local));
}

// Quitting while a task still waits on a silent device past the end's wait: the task still holds
// the bridge, which is never destroyed; the end of the process stops it all the same, so that no
// job of its runs on once the application is gone.
void tst_AFCBridgeLostDevice::aBridgeAStuckTaskStillHoldsStopsAtTheEnd() {
    m_device->faults().holdNext("READ_DIR");
    async::Task<QList<AFCFileInfo>> listing =
        m_bridge->listDirectory(udid, QStringLiteral("/"), std::nullopt);
    QVERIFY(requestHeld(*m_device));

    QVERIFY(AFCBridge::waitForRetiredBridges(std::chrono::seconds(5)));
    // The job that waited on the device has ended: its task ends at once.
    bool ended = false;
    try {
        runSync(std::move(listing), std::chrono::seconds(5));
        ended = true;
    } catch (const async::RunSyncTimeout&) {
    } catch (...) {
        ended = true;
    }
    QVERIFY(ended);
    QVERIFY(m_device->faults().waitUntilHeld(std::chrono::milliseconds(0)));
}

void tst_AFCBridgeLostDevice::aCancelCutsOnlyItsOwnRequest_data() {
    QTest::addColumn<bool>("heldItself");
    QTest::newRow("queued behind another's request") << false;
    QTest::newRow("held by the device") << true;
}

// A copy cancelled while the device is slow with someone else's request is dropped before the
// device ever sees it, and that request goes on; one the device itself holds past the grace has
// its own connection cut, and the next request, made as if nothing happened, gets a new session.
void tst_AFCBridgeLostDevice::aCancelCutsOnlyItsOwnRequest() {
    QFETCH(bool, heldItself);
    const QString local = scratchPath(QStringLiteral("local")) + QStringLiteral("/clip.mov");
    QVERIFY(writeTestFile(onDevice(QStringLiteral("/clip.mov")), patternBytes(mib)));
    ManualUiTimerSource timers;
    std::stop_source cancel;
    const std::shared_ptr<AFCBridge> transfer = m_bridge->forRequestsOf(cancel.get_token(), timers);
    const std::optional<QString> media;
    const size_t opensBefore = countAfcRequests("FILE_OPEN", "/clip.mov");

    std::optional<async::Task<QList<AFCFileInfo>>> other;
    if (heldItself) {
        m_device->faults().holdNext("FILE_OPEN");
    } else {
        m_device->faults().holdNext("READ_DIR");
        other.emplace(m_bridge->listDirectory(udid, QStringLiteral("/"), media));
    }
    async::Task<quint64> copy =
        transfer->download(udid, QStringLiteral("/clip.mov"), URL::fileURL(local), media, {});
    QVERIFY(requestHeld(*m_device));
    cancel.request_stop();
    drainPostedEvents();
    timers.advance(std::chrono::seconds(1));
    drainPostedEvents();

    bool copyFailed = false;
    try {
        runSync(std::move(copy), std::chrono::seconds(5));
    } catch (...) {
        copyFailed = true;
    }
    if (heldItself) {
        QVERIFY(copyFailed);
        // The device still holds the request; the bridge no longer waits on it.
        QVERIFY(m_device->faults().waitUntilHeld(std::chrono::milliseconds(0)));
        other.emplace(m_bridge->listDirectory(udid, QStringLiteral("/"), media));
    } else {
        m_device->faults().releaseHeld();
        QVERIFY(copyFailed);
        QCOMPARE(countAfcRequests("FILE_OPEN", "/clip.mov"), opensBefore);
    }
    const std::optional<AFCError> listed = failureOf<AFCError>(std::move(*other));
    QVERIFY2(!listed, listed ? qPrintable(listed->description()) : "");
}

// Someone else reads a file as a stream when a transfer's write that the device holds is cut for
// the transfer's cancel. The stream's file was open on the session that went, yet the stream reads
// on over the new session from where it was and gets the file whole.
void tst_AFCBridgeLostDevice::anotherStreamReadsOnAfterTheCut() {
    const QByteArray clip = patternBytes(3 * mib);
    QVERIFY(writeTestFile(onDevice(QStringLiteral("/clip.mov")), clip));
    const QString local = scratchPath(QStringLiteral("local")) + QStringLiteral("/big.bin");
    QVERIFY(writeTestFile(local, patternBytes(2 * mib)));
    ManualUiTimerSource timers;
    std::stop_source cancel;
    const std::shared_ptr<AFCBridge> transfer = m_bridge->forRequestsOf(cancel.get_token(), timers);
    const std::optional<QString> media;
    AFCReadStream stream = m_bridge->readStream(udid, QStringLiteral("/clip.mov"), media);
    QByteArray read = runSync(stream.next()).value_or(QByteArray());
    QVERIFY(!read.isEmpty());
    const std::optional<quint64> session = m_bridge->connectedSession(udid);

    m_device->faults().stallWrites();
    async::Task<quint64> upload =
        transfer->uploadFile(udid, QStringLiteral("/big.bin"), URL::fileURL(local), media);
    QVERIFY(m_device->faults().waitUntilWriteStalled());
    cancel.request_stop();
    drainPostedEvents();
    timers.advance(std::chrono::milliseconds(250));
    QVERIFY(failureOf<AFCError>(std::move(upload)));

    try {
        while (const std::optional<QByteArray> chunk = runSync(stream.next()))
            read += *chunk;
    } catch (const AFCError& error) {
        QFAIL(qPrintable(QStringLiteral("the stream failed: ") + error.description()));
    }
    QVERIFY(read == clip);
    QVERIFY(m_bridge->connectedSession(udid) != session);
}

std::optional<AFCError> tst_AFCBridgeLostDevice::run(const QString& operation) {
    const std::optional<QString> media;
    if (operation == QLatin1String("list a large folder"))
        return failureOf<AFCError>(m_bridge->listDirectory(udid, QStringLiteral("/Big"), media));
    if (operation == QLatin1String("remove a tree"))
        return failureOf<AFCError>(m_bridge->removeRecursively(udid, QStringLiteral("/Tree"), media));
    AFCReadStream stream = m_bridge->readStream(udid, QStringLiteral("/clip.mov"), media);
    for (;;) {
        auto chunk = stream.next();
        std::optional<AFCError> error;
        try {
            if (!runSync(std::move(chunk)))
                return std::nullopt;
        } catch (const AFCError& caught) {
            error = caught;
        }
        if (error)
            return error;
    }
}

ORVANTA_DEVICE_TEST_MAIN(tst_AFCBridgeLostDevice)
#include "tst_AFCBridgeLostDevice.moc"
