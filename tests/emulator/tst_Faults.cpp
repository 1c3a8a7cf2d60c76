// The emulator's faults, seen from the client: the result libimobiledevice reports.
#include "DeviceClient.h"
#include "DeviceTestCase.h"
#include "TestFiles.h"

#include <libimobiledevice/lockdown.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <future>
#include <thread>

namespace {
const QString udid = QStringLiteral("00008101-000C4D5E6F708192");
constexpr qsizetype mib = 1 << 20;
} // namespace

class tst_Faults : public DeviceTestCase {
    Q_OBJECT
private slots:
    void unplugMidReadLosesTheConnection();
    void unplugMidWriteLeavesThePartialFile();
    void unplugEndsAHeldReadEvenIfPluggedAgainAtOnce();
    void stalledWrite_data();
    void stalledWrite();
    void refusedWritesNeverWrite();
    void fullDiskStoresNothingBeyondTheQuota();
    void hostileNamesArriveVerbatim();
    void refusedService();
    void handshakeRefusals_data();
    void handshakeRefusals();
    void stopEndsHeldConnectionsAndClosesEverything();

private:
    QString mediaFile(const QString& name) const {
        return QString::fromStdString(emulator().device(udid.toStdString())->description().mediaRoot) +
               QLatin1Char('/') + name;
    }
};

void tst_Faults::unplugMidReadLosesTheConnection() {
    auto& device = addDevice(describeDevice(udid));
    QVERIFY(writeTestFile(mediaFile(QStringLiteral("clip.mov")), patternBytes(4 * mib)));
    device.faults().unplugAfterAfcBytes(2 * mib);
    DeviceClient client;
    QCOMPARE(client.openMedia(udid), 0);
    QByteArray data;
    QCOMPARE(client.readFile(QStringLiteral("/clip.mov"), data), AFC_E_MUX_ERROR);
    QCOMPARE(data.size(), 2 * mib);
    QVERIFY(!device.isPlugged());
    auto listed = runTool(QStringLiteral("idevice_id"), {QStringLiteral("-l")});
    QVERIFY(!listed.standardOutput.contains(udid));
    DeviceClient again;
    QCOMPARE(again.openMedia(udid), int(IDEVICE_E_NO_DEVICE));
}

void tst_Faults::unplugMidWriteLeavesThePartialFile() {
    auto& device = addDevice(describeDevice(udid));
    device.faults().unplugAfterAfcBytes(2 * mib);
    DeviceClient client;
    QCOMPARE(client.openMedia(udid), 0);
    QCOMPARE(client.writeFile(QStringLiteral("/upload.bin"), patternBytes(8 * mib)), AFC_E_MUX_ERROR);
    QCOMPARE(QFileInfo(mediaFile(QStringLiteral("upload.bin"))).size(), 2 * mib);
}

void tst_Faults::unplugEndsAHeldReadEvenIfPluggedAgainAtOnce() {
    auto& device = addDevice(describeDevice(udid));
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

void tst_Faults::stalledWrite_data() {
    QTest::addColumn<bool>("unplug");
    QTest::addColumn<int>("expected");
    QTest::newRow("released") << false << int(AFC_E_SUCCESS);
    QTest::newRow("turned into an unplug") << true << int(AFC_E_MUX_ERROR);
}

void tst_Faults::stalledWrite() {
    QFETCH(bool, unplug);
    QFETCH(int, expected);
    auto& device = addDevice(describeDevice(udid));
    device.faults().stallWrites();
    DeviceClient client;
    QCOMPARE(client.openMedia(udid), 0);
    const QByteArray original = patternBytes(2 * mib);
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
        QVERIFY(fileContents(mediaFile(QStringLiteral("slow.bin"))) == original);
    }
}

void tst_Faults::refusedWritesNeverWrite() {
    auto& device = addDevice(describeDevice(udid));
    QVERIFY(writeTestFile(mediaFile(QStringLiteral("keep.txt")), "keep"));
    device.faults().refuseWrites();
    DeviceClient client;
    QCOMPARE(client.openMedia(udid), 0);
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

void tst_Faults::fullDiskStoresNothingBeyondTheQuota() {
    auto& device = addDevice(describeDevice(udid));
    device.faults().setQuota(2 * mib + mib / 2);
    DeviceClient client;
    QCOMPARE(client.openMedia(udid), 0);
    uint64_t handle = 0;
    QCOMPARE(afc_file_open(client.afc(), "/full.bin", AFC_FOPEN_WR, &handle), AFC_E_SUCCESS);
    const QByteArray chunk = patternBytes(mib);
    uint32_t written = 0;
    QCOMPARE(afc_file_write(client.afc(), handle, chunk.constData(), mib, &written), AFC_E_SUCCESS);
    QCOMPARE(afc_file_write(client.afc(), handle, chunk.constData(), mib, &written), AFC_E_SUCCESS);
    QCOMPARE(afc_file_write(client.afc(), handle, chunk.constData(), mib, &written), AFC_E_NO_SPACE_LEFT);
    // The library counts bytes sent, not stored: only the status tells the truth.
    QCOMPARE(written, uint32_t(mib));
    QCOMPARE(afc_file_close(client.afc(), handle), AFC_E_SUCCESS);
    QCOMPARE(QFileInfo(mediaFile(QStringLiteral("full.bin"))).size(), 2 * mib);
}

void tst_Faults::hostileNamesArriveVerbatim() {
    auto& device = addDevice(describeDevice(udid));
    QVERIFY(writeTestFile(mediaFile(QStringLiteral("real.jpg")), "jpeg"));
    const std::vector<std::string> hostile = {"../x", "a/b", "", ".", "..", "bad\xff\xfe"};
    device.faults().addHostileEntries("/", hostile);
    DeviceClient client;
    QCOMPARE(client.openMedia(udid), 0);
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

void tst_Faults::refusedService() {
    auto& device = addDevice(describeDevice(udid));
    device.faults().refuseService("com.apple.afc", "InvalidService");
    DeviceClient client;
    QCOMPARE(client.openMedia(udid), int(LOCKDOWN_E_INVALID_SERVICE));
    QCOMPARE(emulator().log().count("lockdownd", "StopSession"), size_t(1));
}

void tst_Faults::handshakeRefusals_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("expected");
    QTest::newRow("pairing needs the passcode") << "PasswordProtected" << int(LOCKDOWN_E_PASSWORD_PROTECTED);
    QTest::newRow("pairing denied") << "UserDeniedPairing" << int(LOCKDOWN_E_USER_DENIED_PAIRING);
    QTest::newRow("pairing dialog pending")
        << "PairingDialogResponsePending" << int(LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING);
    QTest::newRow("wrong host id") << "hostid" << int(LOCKDOWN_E_INVALID_HOST_ID);
    QTest::newRow("unpaired, pairing accepted") << "unpaired" << int(LOCKDOWN_E_SUCCESS);
}

void tst_Faults::handshakeRefusals() {
    QFETCH(QString, fault);
    QFETCH(int, expected);
    auto& device = addDevice(describeDevice(udid));
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
        QCOMPARE(idevice_new(&handle, udid.toUtf8().constData()), IDEVICE_E_SUCCESS);
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

void tst_Faults::stopEndsHeldConnectionsAndClosesEverything() {
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
        auto description = describeDevice(udid);
        auto& device = other.addDevice(description);
        QVERIFY(writeTestFile(QString::fromStdString(description.mediaRoot) + QStringLiteral("/clip.mov"),
                              patternBytes(2 * mib)));
        device.faults().gateReads();

        DeviceClient idle, reading;
        QCOMPARE(idle.openMedia(udid), 0);
        QCOMPARE(reading.openMedia(udid), 0);
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
    QVERIFY2(after <= before,
             qPrintable(QStringLiteral("%1 descriptors before, %2 after").arg(before).arg(after)));
}

ORVANTA_DEVICE_TEST_MAIN(tst_Faults)
#include "tst_Faults.moc"
