// Every fault the emulator offers, seen from the client: the result libimobiledevice reports.
#include "DeviceClient.h"
#include "DeviceTestCase.h"

#include <libimobiledevice/lockdown.h>
#include <usbmuxd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace {
const QString kUdid = QStringLiteral("00008101-000C4D5E6F708192");
constexpr qsizetype MiB = 1 << 20;

QByteArray filled(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char((i * 131 + i / 4093) & 0xff);
    return data;
}

// Collects usbmux hot-plug events delivered on the library's own thread.
struct EventSink {
    std::mutex mutex;
    std::condition_variable changed;
    QStringList events;

    static void callback(const usbmuxd_event_t* event, void* self) {
        auto* sink = static_cast<EventSink*>(self);
        std::lock_guard lock(sink->mutex);
        sink->events << QStringLiteral("%1 %2")
                            .arg(event->event == UE_DEVICE_ADD ? QStringLiteral("add")
                                                               : QStringLiteral("remove"))
                            .arg(QString::fromLatin1(event->device.udid));
        sink->changed.notify_all();
    }
    // The limit only keeps a broken emulator from hanging the run.
    bool waitFor(qsizetype count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return events.size() >= count; });
    }
};
} // namespace

class TestFaults : public DeviceTestCase {
    Q_OBJECT
private slots:
    void unplugMidReadLosesTheConnection();
    void unplugMidWriteLeavesThePartialFile();
    void heldReadWaitsForRelease();
    void unplugEndsAHeldReadEvenIfPluggedAgainAtOnce();
    void stalledWrite_data();
    void stalledWrite();
    void refusedWritesNeverWrite();
    void fullDiskStoresNothingBeyondTheQuota();
    void readErrorAtAnOffset();
    void hostileNamesArriveVerbatim();
    void throttledTransferStaysIntact();
    void refusedService();
    void handshakeRefusals_data();
    void handshakeRefusals();
    void stopEndsHeldConnectionsAndClosesEverything();
    void listenersHearUnplugAndPlug();

private:
    QString mediaFile(const QString& name) const {
        return QString::fromStdString(emulator().device(kUdid.toStdString())->description().mediaRoot) +
               QLatin1Char('/') + name;
    }
    void putFile(const QString& name, const QByteArray& data) {
        QFile file(mediaFile(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(data), data.size());
    }
};

void TestFaults::unplugMidReadLosesTheConnection() {
    auto& device = addDevice(describeDevice(kUdid));
    putFile(QStringLiteral("clip.mov"), filled(4 * MiB));
    device.faults().unplugAfterAfcBytes(2 * MiB);
    DeviceClient client;
    QCOMPARE(client.openMedia(kUdid), 0);
    QByteArray data;
    QCOMPARE(client.readFile(QStringLiteral("/clip.mov"), data), AFC_E_MUX_ERROR);
    QCOMPARE(data.size(), 2 * MiB);
    QVERIFY(!device.isPlugged());
    auto listed = runTool(QStringLiteral("idevice_id"), {QStringLiteral("-l")});
    QVERIFY(!listed.standardOutput.contains(kUdid));
    DeviceClient again;
    QCOMPARE(again.openMedia(kUdid), int(IDEVICE_E_NO_DEVICE));
}

void TestFaults::unplugMidWriteLeavesThePartialFile() {
    auto& device = addDevice(describeDevice(kUdid));
    device.faults().unplugAfterAfcBytes(2 * MiB);
    DeviceClient client;
    QCOMPARE(client.openMedia(kUdid), 0);
    QCOMPARE(client.writeFile(QStringLiteral("/upload.bin"), filled(8 * MiB)), AFC_E_MUX_ERROR);
    QCOMPARE(QFileInfo(mediaFile(QStringLiteral("upload.bin"))).size(), 2 * MiB);
}

void TestFaults::heldReadWaitsForRelease() {
    auto& device = addDevice(describeDevice(kUdid));
    const QByteArray original = filled(3 * MiB);
    putFile(QStringLiteral("photo.heic"), original);
    device.faults().gateReads(MiB);
    DeviceClient client;
    QCOMPARE(client.openMedia(kUdid), 0);

    std::atomic<bool> finished{false};
    QByteArray data;
    afc_error_t result = AFC_E_UNKNOWN_ERROR;
    std::thread reader([&] {
        result = client.readFile(QStringLiteral("/photo.heic"), data);
        finished = true;
    });
    QVERIFY(device.faults().waitUntilReadHeld());
    QVERIFY(!finished);
    device.faults().releaseReads();
    reader.join();
    QCOMPARE(result, AFC_E_SUCCESS);
    QVERIFY(data == original);
}

void TestFaults::unplugEndsAHeldReadEvenIfPluggedAgainAtOnce() {
    auto& device = addDevice(describeDevice(kUdid));
    fakemux::Faults& faults = device.faults();
    faults.gateReads();
    // A connection thread's view of the gate, without a client in the way.
    auto held = std::async(std::launch::async, [&faults] { return faults.passRead(1); });
    QVERIFY(faults.waitUntilReadHeld());
    device.unplug();
    device.plug();
    // The limit only keeps a regression from hanging the run; the release then frees the thread.
    const bool ended = held.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    faults.releaseReads();
    QVERIFY(ended);
    QVERIFY(!held.get());
}

void TestFaults::stalledWrite_data() {
    QTest::addColumn<bool>("unplug");
    QTest::addColumn<int>("expected");
    QTest::newRow("released") << false << int(AFC_E_SUCCESS);
    QTest::newRow("turned into an unplug") << true << int(AFC_E_MUX_ERROR);
}

void TestFaults::stalledWrite() {
    QFETCH(bool, unplug);
    QFETCH(int, expected);
    auto& device = addDevice(describeDevice(kUdid));
    device.faults().stallWrites();
    DeviceClient client;
    QCOMPARE(client.openMedia(kUdid), 0);
    const QByteArray original = filled(2 * MiB);
    afc_error_t result = AFC_E_UNKNOWN_ERROR;
    std::thread writer([&] { result = client.writeFile(QStringLiteral("/slow.bin"), original); });
    QVERIFY(device.faults().waitUntilWriteStalled());
    if (unplug)
        device.unplug();
    else
        device.faults().releaseWrites();
    writer.join();
    QCOMPARE(int(result), expected);
    if (!unplug) {
        QFile stored(mediaFile(QStringLiteral("slow.bin")));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(stored.readAll() == original);
    }
}

void TestFaults::refusedWritesNeverWrite() {
    auto& device = addDevice(describeDevice(kUdid));
    putFile(QStringLiteral("keep.txt"), "keep");
    device.faults().refuseWrites();
    DeviceClient client;
    QCOMPARE(client.openMedia(kUdid), 0);
    uint64_t handle = 99;
    QCOMPARE(afc_file_open(client.afc(), "/new.txt", AFC_FOPEN_WR, &handle), AFC_E_PERM_DENIED);
    QCOMPARE(handle, uint64_t(0));
    QCOMPARE(afc_make_directory(client.afc(), "/Folder"), AFC_E_PERM_DENIED);
    QCOMPARE(afc_remove_path(client.afc(), "/keep.txt"), AFC_E_PERM_DENIED);
    QByteArray data;
    QCOMPARE(client.readFile(QStringLiteral("/keep.txt"), data), AFC_E_SUCCESS);
    QCOMPARE(emulator().log().count("afc", "FILE_WRITE"), size_t(0));
    QVERIFY(!QFileInfo::exists(mediaFile(QStringLiteral("new.txt"))));
    QCOMPARE(device.openHandles(), 0);
}

void TestFaults::fullDiskStoresNothingBeyondTheQuota() {
    auto& device = addDevice(describeDevice(kUdid));
    device.faults().setQuota(2 * MiB + MiB / 2);
    DeviceClient client;
    QCOMPARE(client.openMedia(kUdid), 0);
    uint64_t handle = 0;
    QCOMPARE(afc_file_open(client.afc(), "/full.bin", AFC_FOPEN_WR, &handle), AFC_E_SUCCESS);
    const QByteArray chunk = filled(MiB);
    uint32_t written = 0;
    QCOMPARE(afc_file_write(client.afc(), handle, chunk.constData(), MiB, &written), AFC_E_SUCCESS);
    QCOMPARE(afc_file_write(client.afc(), handle, chunk.constData(), MiB, &written), AFC_E_SUCCESS);
    QCOMPARE(afc_file_write(client.afc(), handle, chunk.constData(), MiB, &written), AFC_E_NO_SPACE_LEFT);
    // The library counts bytes sent, not stored: only the status tells the truth.
    QCOMPARE(written, uint32_t(MiB));
    QCOMPARE(afc_file_close(client.afc(), handle), AFC_E_SUCCESS);
    QCOMPARE(QFileInfo(mediaFile(QStringLiteral("full.bin"))).size(), 2 * MiB);
}

void TestFaults::readErrorAtAnOffset() {
    auto& device = addDevice(describeDevice(kUdid));
    const QByteArray original = filled(3 * MiB);
    putFile(QStringLiteral("broken.mov"), original);
    device.faults().readErrorAt(MiB + MiB / 2, AFC_E_READ_ERROR);
    DeviceClient client;
    QCOMPARE(client.openMedia(kUdid), 0);
    QByteArray data;
    QCOMPARE(client.readFile(QStringLiteral("/broken.mov"), data), AFC_E_READ_ERROR);
    QVERIFY(data == original.left(MiB + MiB / 2));
    QCOMPARE(device.openHandles(), 0);
}

void TestFaults::hostileNamesArriveVerbatim() {
    auto& device = addDevice(describeDevice(kUdid));
    putFile(QStringLiteral("real.jpg"), "jpeg");
    const std::vector<std::string> hostile = {"../x", "a/b", "", ".", "..", "bad\xff\xfe"};
    device.faults().addHostileEntries("/", hostile);
    DeviceClient client;
    QCOMPARE(client.openMedia(kUdid), 0);
    char** list = nullptr;
    QCOMPARE(afc_read_directory(client.afc(), "/", &list), AFC_E_SUCCESS);
    std::vector<std::string> names;
    for (char** p = list; p && *p; ++p)
        names.emplace_back(*p);
    afc_dictionary_free(list);
    // Every name reaches the caller as it stands, the empty one and duplicate dots included.
    std::vector<std::string> expected = {".", "..", "real.jpg"};
    expected.insert(expected.end(), hostile.begin(), hostile.end());
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(names, expected);

    // Their facts can be asked for under the path the caller builds by joining.
    for (const char* path : {"/a/b", "/../x", "/bad\xff\xfe"}) {
        char** info = nullptr;
        QCOMPARE(afc_get_file_info(client.afc(), path, &info), AFC_E_SUCCESS);
        QCOMPARE(QByteArray(info[0]), QByteArray("st_size"));
        afc_dictionary_free(info);
    }
}

void TestFaults::throttledTransferStaysIntact() {
    auto& device = addDevice(describeDevice(kUdid));
    const QByteArray original = filled(2 * MiB);
    putFile(QStringLiteral("slow.mov"), original);
    device.faults().throttle(64 * MiB);
    DeviceClient client;
    QCOMPARE(client.openMedia(kUdid), 0);
    QByteArray data;
    QCOMPARE(client.readFile(QStringLiteral("/slow.mov"), data, 256 * 1024), AFC_E_SUCCESS);
    QVERIFY(data == original);
}

void TestFaults::refusedService() {
    auto& device = addDevice(describeDevice(kUdid));
    device.faults().refuseService("com.apple.afc", "InvalidService");
    DeviceClient client;
    QCOMPARE(client.openMedia(kUdid), int(LOCKDOWN_E_INVALID_SERVICE));
    QCOMPARE(emulator().log().count("lockdownd", "StopSession"), size_t(1));
}

void TestFaults::handshakeRefusals_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("expected");
    QTest::newRow("pairing needs the passcode") << "PasswordProtected" << int(LOCKDOWN_E_PASSWORD_PROTECTED);
    QTest::newRow("pairing denied") << "UserDeniedPairing" << int(LOCKDOWN_E_USER_DENIED_PAIRING);
    QTest::newRow("pairing dialog pending")
        << "PairingDialogResponsePending" << int(LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING);
    QTest::newRow("wrong host id") << "hostid" << int(LOCKDOWN_E_INVALID_HOST_ID);
    QTest::newRow("unpaired, pairing accepted") << "unpaired" << int(LOCKDOWN_E_SUCCESS);
}

void TestFaults::handshakeRefusals() {
    QFETCH(QString, fault);
    QFETCH(int, expected);
    auto& device = addDevice(describeDevice(kUdid));
    if (fault == QLatin1String("hostid"))
        device.faults().rejectHostId(true);
    else if (fault == QLatin1String("unpaired"))
        device.forgetPairRecord();
    else
        device.faults().refusePairing(fault.toStdString());
    // An accepted pairing is stored through the mux and serves the next handshake without pairing.
    const int attempts = expected == LOCKDOWN_E_SUCCESS ? 2 : 1;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        idevice_t handle = nullptr;
        QCOMPARE(idevice_new(&handle, kUdid.toUtf8().constData()), IDEVICE_E_SUCCESS);
        lockdownd_client_t lockdown = nullptr;
        const lockdownd_error_t result = lockdownd_client_new_with_handshake(handle, &lockdown, "Orvanta");
        if (lockdown)
            lockdownd_client_free(lockdown);
        idevice_free(handle);
        QCOMPARE(int(result), expected);
    }
    const bool pairs = fault != QLatin1String("hostid");
    QCOMPARE(emulator().log().count("lockdownd", "Pair"), size_t(pairs));
    QCOMPARE(emulator().log().count("usbmux", "SavePairRecord"), size_t(expected == LOCKDOWN_E_SUCCESS));
}

void TestFaults::stopEndsHeldConnectionsAndClosesEverything() {
    const auto openDescriptors = [] {
        return QDir(QStringLiteral("/proc/self/fd")).count();
    };
    const uint before = openDescriptors();
    const QByteArray own = qgetenv("USBMUXD_SOCKET_ADDRESS");
    {
        // An emulator of its own, so that stopping it leaves this process's one serving. No client
        // library thread runs here, so nothing reads the variable while it points elsewhere.
        fakemux::Emulator other;
        qputenv("USBMUXD_SOCKET_ADDRESS", QByteArray::fromStdString(other.socketAddress()));
        auto description = describeDevice(kUdid);
        auto& device = other.addDevice(description);
        QFile file(QString::fromStdString(description.mediaRoot) + QStringLiteral("/clip.mov"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(filled(2 * MiB));
        file.close();
        device.faults().gateReads();

        DeviceClient idle, reading;
        QCOMPARE(idle.openMedia(kUdid), 0);
        QCOMPARE(reading.openMedia(kUdid), 0);
        qputenv("USBMUXD_SOCKET_ADDRESS", own);
        afc_error_t result = AFC_E_SUCCESS;
        QByteArray data;
        std::thread reader([&] { result = reading.readFile(QStringLiteral("/clip.mov"), data); });
        QVERIFY(device.faults().waitUntilReadHeld());
        other.stop();
        reader.join();
        QCOMPARE(result, AFC_E_MUX_ERROR);
        QStringList names;
        QCOMPARE(idle.listDirectory(QStringLiteral("/"), names), AFC_E_MUX_ERROR);
    }
    // The fixture's own emulator may still be closing connections of earlier tests while this one
    // runs, so descriptors can only have become fewer; any growth is a leak.
    const uint after = openDescriptors();
    QVERIFY2(after <= before, qPrintable(QStringLiteral("%1 descriptors before, %2 after").arg(before).arg(after)));
}

void TestFaults::listenersHearUnplugAndPlug() {
    addDevice(describeDevice(kUdid));
    EventSink sink;
    usbmuxd_subscription_context_t context = nullptr;
    QCOMPARE(usbmuxd_events_subscribe(&context, &EventSink::callback, &sink), 0);
    QVERIFY(sink.waitFor(1));
    emulator().unplug(kUdid.toStdString());
    QVERIFY(sink.waitFor(2));
    emulator().plug(kUdid.toStdString());
    QVERIFY(sink.waitFor(3));
    QStringList events;
    {
        std::lock_guard lock(sink.mutex);
        events = sink.events;
    }
    // Taken before unsubscribing: the library reports every known device as removed then.
    usbmuxd_events_unsubscribe(context);
    QCOMPARE(events, (QStringList{QStringLiteral("add ") + kUdid, QStringLiteral("remove ") + kUdid,
                                  QStringLiteral("add ") + kUdid}));
}

ORVANTA_DEVICE_TEST_MAIN(TestFaults)
#include "tst_Faults.moc"
