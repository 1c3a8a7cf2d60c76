#include "DeviceTestCase.h"

#include "device/AFCBridge.h"
#include "platform/async/TaskHandle.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

constexpr const char* addressVariable = "USBMUXD_SOCKET_ADDRESS";
fakemux::Emulator* g_emulator = nullptr;

// True only when the client library, and every tool started from here, reaches our emulator. An
// unset or unreadable variable would make the library fall back to the system usbmuxd and a real
// phone on the desk.
bool addressPointsAtEmulator() {
    const char* value = std::getenv(addressVariable);
    return g_emulator && value && g_emulator->socketAddress() == value;
}

} // namespace

fakemux::Emulator& DeviceTestCase::emulator() {
    if (!g_emulator) {
        std::fprintf(stderr, "DeviceTestCase: no emulator; use ORVANTA_DEVICE_TEST_MAIN\n");
        std::abort();
    }
    return *g_emulator;
}

bool DeviceTestCase::startEmulator() {
    try {
        std::filesystem::path folder = fakemux::Emulator::makeFolder();
        std::string address = fakemux::Emulator::socketAddressFor(folder);
        // Before the emulator's first thread, and before Qt starts any.
        if (::setenv(addressVariable, address.c_str(), 1) != 0) {
            std::perror("setenv");
            return false;
        }
        // What copies leave on a device is written down in the user's data folder; each test
        // executable keeps its own (unless its main chose one), so parallel runs never clean up
        // each other's devices.
        const std::string data = (folder / "data").string();
        if (::setenv("XDG_DATA_HOME", data.c_str(), 0) != 0) {
            std::perror("setenv");
            return false;
        }
        g_emulator = new fakemux::Emulator(folder);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "DeviceTestCase: cannot start the device emulator: %s\n", e.what());
        return false;
    }
    if (!addressPointsAtEmulator()) {
        std::fprintf(stderr, "DeviceTestCase: %s does not point at the emulator; refusing to run\n",
                     addressVariable);
        return false;
    }
    return true;
}

void DeviceTestCase::endSpawnedTasks() {
    const QDeadlineTimer deadline(std::chrono::seconds(5));
    while (async::spawnedTasksRunning() > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    if (async::spawnedTasksRunning() > 0)
        std::fprintf(stderr, "DeviceTestCase: %d tasks still running at the end\n", async::spawnedTasksRunning());
    QCoreApplication::sendPostedEvents();
}

void DeviceTestCase::waitForRetiredBridges() {
    if (!AFCBridge::waitForRetiredBridges(std::chrono::seconds(20)))
        std::fprintf(stderr, "DeviceTestCase: a destroyed bridge did not finish closing\n");
}

bool DeviceTestCase::requestHeld(fakemux::VirtualDevice& device) {
    for (int round = 0; round < 4000; ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (device.faults().waitUntilHeld(std::chrono::milliseconds(1)))
            return true;
    }
    return false;
}

size_t DeviceTestCase::serviceStarts() {
    return emulator().log().count("lockdownd", "StartService");
}

bool DeviceTestCase::serviceStartedSince(size_t before, std::chrono::milliseconds limit) {
    QDeadlineTimer deadline(limit);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (serviceStarts() > before)
            return true;
    }
    return false;
}

void DeviceTestCase::stopEmulator() {
    delete g_emulator;
    g_emulator = nullptr;
}

void DeviceTestCase::initTestCase() {
    QVERIFY2(addressPointsAtEmulator(),
             "USBMUXD_SOCKET_ADDRESS does not point at the emulator: refusing to touch a real device");
    for (const char* tool : {"idevice_id", "ideviceinfo", "idevicename"}) {
        QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(),
                 qPrintable(QStringLiteral(
                                "%1 not found on PATH: install libimobiledevice-utils (scripts/install-deps)")
                                .arg(QString::fromLatin1(tool))));
    }
}

void DeviceTestCase::setUpTest() {
    QVERIFY2(addressPointsAtEmulator(), "USBMUXD_SOCKET_ADDRESS changed during the run");
    m_scratch = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_scratch->isValid(), qPrintable(m_scratch->errorString()));
}

void DeviceTestCase::tearDownTest() {
    // Devices go first: unplugging releases every held connection before their folders vanish.
    emulator().setUsbmuxdLeavesWithLastDevice(false);
    emulator().removeAllDevices();
    emulator().log().clear();
    m_scratch.reset();
}

fakemux::DeviceDescription DeviceTestCase::describeDevice(const QString& udid, const QString& name) {
    fakemux::DeviceDescription description;
    description.udid = udid.toStdString();
    description.name = name.toStdString();
    description.mediaRoot = scratchPath(QStringLiteral("media-") + udid).toStdString();
    description.values = {
        {"ProductType", std::string("iPhone15,2")},
        {"ProductVersion", std::string("17.4")},
        {"DeviceClass", std::string("iPhone")},
        {"SerialNumber", std::string("F2LXK0ABCDEF")},
    };
    description.battery = {{"BatteryCurrentCapacity", int64_t(87)}, {"BatteryIsCharging", true}};
    return description;
}

fakemux::VirtualDevice& DeviceTestCase::addDevice(fakemux::DeviceDescription description) {
    return emulator().addDevice(std::move(description));
}

QString DeviceTestCase::scratchPath(const QString& relative) const {
    if (!m_scratch)
        return QString();
    QString path = relative.isEmpty() ? m_scratch->path() : m_scratch->filePath(relative);
    QDir().mkpath(path);
    return path;
}

DeviceTestCase::ToolResult DeviceTestCase::runTool(const QString& tool, const QStringList& arguments,
                                                   const QProcessEnvironment& environment) {
    ToolResult result;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(tool, arguments);
    // The limit only keeps a broken emulator from hanging the run; a healthy tool ends at once.
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        result.standardError = QStringLiteral("%1 did not finish").arg(tool);
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.standardOutput = QString::fromUtf8(process.readAllStandardOutput());
    result.standardError = QString::fromUtf8(process.readAllStandardError());
    return result;
}
