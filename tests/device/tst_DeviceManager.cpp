// DeviceManager: scans against the emulator with the real idevice_id, ideviceinfo and idevicename
// (fake tools in the helpers folder stand in for failing ones), the scan loop on a manual clock,
// and the record built from what the tools print.

#include "DeviceTestCase.h"
#include "EventLoop.h"
#include "LogCapture.h"
#include "TaskFailure.h"
#include "TestFiles.h"
#include "device/AFCBridge.h"
#include "device/AFCError.h"
#include "device/DeviceManager.h"
#include "device/DeviceRecord.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunner.h"
#include "platform/async/Cancellation.h"
#include "platform/async/ManualClock.h"

#include <QFile>
#include <QStandardPaths>

#include <csignal>

using namespace std::chrono_literals;
using async::runSync;

namespace {

const QString deviceLog = LogCapture::category(QStringLiteral("device"));
const QString udidA = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString udidB = QStringLiteral("00008030-000C11D2E3F40A5B");
const QString udidC = QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28");

QStringList udids(const QList<iOSDevice>& devices) {
    QStringList result;
    for (const iOSDevice& device : devices)
        result << device.udid();
    return result;
}

// One drag-out copy while it lives; the counter is process-wide, so no test may leave it raised.
struct DragOutCopy {
    DragOutCopy() { add(1); }
    ~DragOutCopy() { add(-1); }
    static void add(int64_t step) {
        std::lock_guard lock(DeviceManager::transferLock);
        DeviceManager::activeTransferCount += step;
    }
};

} // namespace

class tst_DeviceManager : public DeviceTestCase {
    Q_OBJECT

private slots:
    void batteryLevel_data();
    void batteryLevel();
    void newDeviceIsListed_data();
    void newDeviceIsListed();
    void devicesComeAndGo();
    void failedListingKeepsTheList_data();
    void failedListingKeepsTheList();
    void deviceThatComesBackIsUsableAgain_data();
    void deviceThatComesBackIsUsableAgain();
    void usbmuxdLeavingEmptiesTheList();
    void monitoringPausesWhileDragOutCopiesRun();
    void stoppingEndsTheScanInProgress_data();
    void stoppingEndsTheScanInProgress();

private:
    QString helpers() const { return scratchPath(QStringLiteral("helpers")); }
    // The real tools are linked into a folder that stands for every place a tool is looked up;
    // without its link there (and with an empty PATH) a tool is missing.
    std::unique_ptr<DeviceManager> makeManager() {
        const QString tools = scratchPath(QStringLiteral("tools"));
        for (const QString name : {"idevice_id", "ideviceinfo", "idevicename"})
            QFile::link(QStandardPaths::findExecutable(name), tools + u'/' + name);
        auto runner =
            std::make_shared<ProcessRunner>(URL::fileURL(helpers(), true), QStringList{tools + u'/'});
        return std::make_unique<DeviceManager>(std::make_shared<IMobileDeviceBridge>(runner), m_clock);
    }
    bool writeFakeTool(const QString& tool, const QString& body) {
        const QString path = helpers() + u'/' + tool;
        return writeTestFile(path, body.toUtf8()) &&
               QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    static bool hasSession(DeviceManager& manager, const QString& udid) {
        return !failureOf<AFCError>(manager.afcBridge()->afcClient(udid, std::nullopt));
    }

    async::ManualClock m_clock;
};

void tst_DeviceManager::batteryLevel_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("level");
    // An optional sign and decimal digits, nothing else, within what the record holds.
    for (const QString row : {"+85>85", "-1>-1", ">none", "85%>none", "3000000000>none"})
        QTest::addRow("'%s'", qPrintable(row.section(u'>', 0, 0)))
            << row.section(u'>', 0, 0) << row.section(u'>', 1);
}

void tst_DeviceManager::batteryLevel() {
    QFETCH(QString, text);
    QFETCH(QString, level);
    const std::optional<int> parsed = DeviceRecord::batteryLevel(text);
    QCOMPARE(parsed ? QString::number(*parsed) : "none", level);
}

void tst_DeviceManager::newDeviceIsListed_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<QString>("log");
    // The device has no name, so the log shows its model.
    QTest::newRow("unlocked") << "" << true << "Device connected: iPhone OS (" + udidA + ") — iOS 17.4";
    // As a real phone answers: the level only in the battery's domain.
    QTest::newRow("battery only in its domain")
        << "battery in domain" << true << "Device connected: iPhone OS (" + udidA + ") — iOS 17.4";
    QTest::newRow("info query fails")
        << "info" << false << "Failed to build device info for " + udidA + ": Device not found: " + udidA;
}

void tst_DeviceManager::newDeviceIsListed() {
    QFETCH(QString, fault);
    QFETCH(bool, listed);
    QFETCH(QString, log);
    fakemux::DeviceDescription description = describeDevice(udidA, "");
    description.batteryCapacityInRoot = fault != "battery in domain";
    description.values["ProductName"] = std::string("iPhone OS");
    addDevice(description);
    if (fault == "info")
        QVERIFY(writeFakeTool("ideviceinfo", "#!/bin/sh\nexit 1\n"));
    auto manager = makeManager();
    int changes = -1;
    const Subscription counting = manager->connectedDevices.subscribe([&](const auto&) { ++changes; });
    LogCapture logs;

    runSync(manager->scanForDevices());
    QVERIFY2(logs.messages(deviceLog).contains(log), qPrintable(logs.messages(deviceLog).join(u'\n')));
    QCOMPARE(changes, listed ? 1 : 0);
    QCOMPARE(hasSession(*manager, udidA), listed);
    const iOSDevice expected(udidA, udidA, "", "iPhone OS", "iPhone15,2", "17.4", 87, true, true);
    QCOMPARE(manager->connectedDevices.value(), listed ? QList<iOSDevice>{expected} : QList<iOSDevice>());
}

void tst_DeviceManager::devicesComeAndGo() {
    fakemux::VirtualDevice& locked = addDevice(describeDevice(udidA));
    locked.faults().setLocked(true);
    addDevice(describeDevice(udidB));
    auto manager = makeManager();
    LogCapture firstScan;
    runSync(manager->scanForDevices());
    // Listed all the same, without a session.
    QVERIFY(firstScan.messages(deviceLog).contains("AFC connect failed for " + udidA +
                                                   ": iPhone is locked — unlock your device and try again"));
    QList<QStringList> published;
    const Subscription recording = manager->connectedDevices.subscribe(
        [&](const QList<iOSDevice>& devices) { published << udids(devices); });
    LogCapture logs;

    // Still locked at the next scan: tried again, but the same failure is not logged again.
    runSync(manager->scanForDevices());
    QCOMPARE(logs.messages(deviceLog).filter("AFC connect failed"), QStringList());

    // Between two scans: one device unlocked, one unplugged, one plugged in. The newcomer is added
    // first, the unlocked one gets its session (its facts are not asked again), and the gone one
    // is removed in a change of its own.
    locked.faults().setLocked(false);
    emulator().unplug(udidB.toStdString());
    addDevice(describeDevice(udidC));
    runSync(manager->scanForDevices());
    QCOMPARE(published, (QList<QStringList>{
                            {udidA, udidB}, {udidA, udidB, udidC}, {udidA, udidB, udidC}, {udidA, udidC}}));
    QVERIFY(logs.messages(deviceLog).contains("Device disconnected: " + udidB));
    QVERIFY(!hasSession(*manager, udidB));
    QCOMPARE(logs.messages().filter("Running: ideviceinfo"),
             (QStringList{"Running: ideviceinfo -u " + udidC,
                          "Running: ideviceinfo -u " + udidC + " -q com.apple.mobile.battery"}));
    QVERIFY(manager->connectedDevices.value().front().isAFCConnected());
    QVERIFY(hasSession(*manager, udidA));
}

void tst_DeviceManager::failedListingKeepsTheList_data() {
    QTest::addColumn<QString>("tool"); // empty: missing
    QTest::addColumn<QString>("log");
    QTest::addColumn<bool>("dependenciesMissing");
    QTest::newRow("tool cannot start") << "#!/nonexistent/interpreter\n"
                                       << "Failed to scan for devices: Cannot start " << false;
    QTest::newRow("tool missing") << ""
                                  << "Bundled helper 'idevice_id' is missing — reinstall Orvanta" << true;
}

void tst_DeviceManager::failedListingKeepsTheList() {
    QFETCH(QString, tool);
    QFETCH(QString, log);
    QFETCH(bool, dependenciesMissing);
    addDevice(describeDevice(udidA));
    auto manager = makeManager();
    runSync(manager->scanForDevices());
    const QList<iOSDevice> before = manager->connectedDevices.value();
    int changes = -1;
    const Subscription counting = manager->connectedDevices.subscribe([&](const auto&) { ++changes; });
    LogCapture logs;

    const QString link = scratchPath("tools") + "/idevice_id";
    const QByteArray path = qgetenv("PATH");
    if (tool.isEmpty()) {
        // Only while no other thread reads the environment: nothing runs between the scans.
        QVERIFY(QFile::remove(link));
        qputenv("PATH", QFile::encodeName(scratchPath("empty")));
    } else {
        QVERIFY(writeFakeTool("idevice_id", tool));
    }
    runSync(manager->scanForDevices());
    // The same failure again is not logged again.
    runSync(manager->scanForDevices());
    qputenv("PATH", path);
    QCOMPARE(logs.messages(deviceLog).size(), 1);
    QVERIFY2(logs.messages(deviceLog).front().startsWith(log), qPrintable(logs.messages(deviceLog).front()));
    QCOMPARE(manager->dependenciesMissing.value(), dependenciesMissing);
    QCOMPARE(changes, 0);
    QVERIFY(hasSession(*manager, udidA));

    // The next listing that works clears the flag and finds nothing changed.
    QFile::remove(helpers() + "/idevice_id");
    QFile::link(QStandardPaths::findExecutable("idevice_id"), link);
    runSync(manager->scanForDevices());
    QVERIFY(!manager->dependenciesMissing.value());
    QCOMPARE(manager->connectedDevices.value(), before);
}

void tst_DeviceManager::deviceThatComesBackIsUsableAgain_data() {
    QTest::addColumn<QString>("how");
    // Out and in again faster than a scan: the scan never sees it go, but its session is dead.
    QTest::newRow("quick replug") << "replug";
    // Listed without a session; unlocking is all the user does.
    QTest::newRow("plugged in locked, then unlocked") << "unlock";
}

// The next scan gives a device that stayed listed a working session again, without a replug and
// without asking its facts again; the listing works without anyone opening a session first.
void tst_DeviceManager::deviceThatComesBackIsUsableAgain() {
    QFETCH(QString, how);
    fakemux::DeviceDescription description = describeDevice(udidA);
    QVERIFY(writeTestFile(QString::fromStdString(description.mediaRoot.string()) + "/DCIM/a.jpg", "x"));
    fakemux::VirtualDevice& device = addDevice(description);
    device.faults().setLocked(how == "unlock");
    auto manager = makeManager();
    runSync(manager->scanForDevices());
    QCOMPARE(manager->connectedDevices.value().front().isAFCConnected(), how != "unlock");
    LogCapture logs;

    if (how == "replug")
        emulator().replug(udidA.toStdString());
    else
        device.faults().setLocked(false);
    runSync(manager->scanForDevices());
    QCOMPARE(udids(manager->connectedDevices.value()), QStringList{udidA});
    QVERIFY(manager->connectedDevices.value().front().isAFCConnected());
    QVERIFY(manager->afcBridge()->isConnected(udidA));
    QCOMPARE(runSync(manager->afcBridge()->listDirectory(udidA, "/DCIM", std::nullopt)).size(), 1);
    QCOMPARE(logs.messages().filter("Running: ideviceinfo"), QStringList());
    QCOMPARE(logs.messages(deviceLog).filter("Device"), QStringList());
}

// The system's usbmuxd leaves with the last device: no devices, not a failed listing. The device
// that comes back (and brings usbmuxd with it) is listed afresh with a working session.
void tst_DeviceManager::usbmuxdLeavingEmptiesTheList() {
    emulator().setUsbmuxdLeavesWithLastDevice(true);
    addDevice(describeDevice(udidA));
    auto manager = makeManager();
    runSync(manager->scanForDevices());
    QVERIFY(hasSession(*manager, udidA));
    LogCapture logs;

    emulator().unplug(udidA.toStdString());
    QVERIFY(!emulator().isUsbmuxdRunning());
    runSync(manager->scanForDevices());
    runSync(manager->scanForDevices());
    QCOMPARE(manager->connectedDevices.value(), QList<iOSDevice>());
    QVERIFY(!hasSession(*manager, udidA));
    QVERIFY(!manager->dependenciesMissing.value());
    QCOMPARE(logs.messages(deviceLog), (QStringList{"usbmuxd is not running: no devices are attached",
                                                    "Device disconnected: " + udidA}));

    emulator().plug(udidA.toStdString());
    runSync(manager->scanForDevices());
    QCOMPARE(udids(manager->connectedDevices.value()), QStringList{udidA});
    QVERIFY(manager->connectedDevices.value().front().isAFCConnected());
    QVERIFY(hasSession(*manager, udidA));
    QVERIFY(logs.messages(deviceLog).contains("Device listing works again"));
}

void tst_DeviceManager::monitoringPausesWhileDragOutCopiesRun() {
    addDevice(describeDevice(udidA));
    auto manager = makeManager();
    int changes = -2;
    const auto count = [&](const auto&) {
        ++changes;
    };
    const Subscription subscriptions[] = {manager->connectedDevices.subscribe(count),
                                          manager->dependenciesMissing.subscribe(count)};
    LogCapture logs;
    const auto scans = [&] {
        return logs.messages().count("Skipping device scan while transfers are active");
    };
    {
        // Each skipped scan is seen by its log line: the first at once, then one per interval.
        const DragOutCopy copy;
        manager->startMonitoring();
        manager->startMonitoring();
        QCOMPARE(scans(), 1);
        m_clock.advance(1999ms);
        QCOMPARE(scans(), 1);
        m_clock.advance(4001ms);
        QCOMPARE(scans(), 4);
        QCOMPARE(logs.messages().filter("Running:"), QStringList());
        QCOMPARE(changes, 0);
        QCOMPARE(logs.messages(deviceLog).count("Starting device monitoring"), 1);
    }
    runSync(manager->scanForDevices());
    QCOMPARE(udids(manager->connectedDevices.value()), QStringList{udidA});

    // A stop during the pause ends it at once and is followed by one last scan; a stop with
    // nothing running still reports.
    const async::TaskHandle<void> task = manager->monitoringTask();
    const qsizetype listingsBefore = logs.messages().count("Running: idevice_id -l");
    manager->stopMonitoring();
    manager->stopMonitoring();
    runSync(task.result(), 20s);
    QCOMPARE(logs.messages().count("Running: idevice_id -l"), listingsBefore + 1);
    QVERIFY(!manager->isMonitoring.value());
    QCOMPARE(logs.messages(deviceLog).count("Stopped device monitoring"), 2);
}

void tst_DeviceManager::stoppingEndsTheScanInProgress_data() {
    QTest::addColumn<bool>("destroy");
    QTest::newRow("monitoring stopped") << false;
    QTest::newRow("manager destroyed") << true;
}

void tst_DeviceManager::stoppingEndsTheScanInProgress() {
    QFETCH(bool, destroy);
    // Writes its process id, then hangs far beyond any test's patience.
    QVERIFY(writeFakeTool("idevice_id", "#!/bin/sh\necho $$ > \"$0.pid\"\nexec sleep 120\n"));
    auto manager = makeManager();
    LogCapture logs;
    manager->startMonitoring();
    const async::TaskHandle<void> task = manager->monitoringTask();
    QTRY_VERIFY_WITH_TIMEOUT(QFile(helpers() + "/idevice_id.pid").size() > 0, 20000);

    if (destroy)
        manager.reset();
    else
        manager->stopMonitoring();
    QVERIFY_THROWS_EXCEPTION(async::CancelledError, runSync(task.result(), 20s));
    QFile pid(helpers() + "/idevice_id.pid");
    QVERIFY(pid.open(QIODevice::ReadOnly));
    QCOMPARE(::kill(pid.readAll().trimmed().toInt(), 0), -1); // killed and reaped
    QCOMPARE(logs.messages(deviceLog).filter("Failed"), QStringList());
}

ORVANTA_DEVICE_TEST_MAIN(tst_DeviceManager)
#include "tst_DeviceManager.moc"
