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
    void unplugEndsAHeldReadEvenIfPluggedAgainAtOnce();
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
