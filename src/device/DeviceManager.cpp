#include "device/DeviceManager.h"

#include "device/AFCBridge.h"
#include "device/DeviceRecord.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunnerError.h"
#include "device/UsbmuxdSocket.h"
#include "platform/Logger.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "platform/async/SystemContinuousClock.h"

#include <QMap>
#include <QSet>

#include <exception>

namespace {

bool dragOutCopiesRunning() {
    std::lock_guard lock(DeviceManager::transferLock);
    return DeviceManager::activeTransferCount >= 1;
}

// A failed listing that means no device is attached: the listing tool ran and failed because
// usbmuxd, which leaves with the last device, is not there.
bool meansNoUsbmuxd(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ProcessRunnerError& error) {
        return error.errorCase() == ProcessRunnerError::Case::nonZeroExit && UsbmuxdSocket::isAbsent();
    } catch (...) {
    }
    return false;
}

// The tool name when the failure is a missing tool.
std::optional<QString> missingTool(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ProcessRunnerError& error) {
        if (error.errorCase() == ProcessRunnerError::Case::executableNotFound)
            return error.name();
    } catch (...) {
    }
    return std::nullopt;
}

// A phone keeps its battery level in a domain of its own, outside the default answer.
const QString batteryKey = QStringLiteral("BatteryCurrentCapacity");
constexpr const char* batteryDomain = "com.apple.mobile.battery";

QStringList udidsOf(const QList<iOSDevice>& devices) {
    QStringList udids;
    udids.reserve(devices.size());
    for (const iOSDevice& device : devices) {
        udids << device.udid();
    }
    return udids;
}

} // namespace

DeviceManager::DeviceManager(std::shared_ptr<IMobileDeviceBridge> bridge)
    : DeviceManager(std::move(bridge), async::SystemContinuousClock::shared()) {}

DeviceManager::DeviceManager(std::shared_ptr<IMobileDeviceBridge> bridge, async::ContinuousClock& clock)
    : m_bridge(std::move(bridge)), m_afcBridge(std::make_shared<AFCBridge>()), m_clock(clock) {}

DeviceManager::~DeviceManager() {
    // Whatever is still suspended in a scan must find the manager gone at its next wait.
    m_lifetime.request_stop();
    m_monitoringTask.cancel();
}

void DeviceManager::startMonitoring() {
    if (isMonitoring.value()) {
        return;
    }
    isMonitoring = true;
    Logger::device().info("Starting device monitoring");
    // A task stopped a moment ago may still run its last scan; the new one waits for it.
    async::TaskHandle<void> previous = m_previousTask;
    m_monitoringTask =
        async::spawn([this, previous](std::stop_token token) { return monitor(previous, std::move(token)); });
}

void DeviceManager::stopMonitoring() {
    m_monitoringTask.cancel();
    m_previousTask = m_monitoringTask;
    m_monitoringTask = {};
    isMonitoring = false;
    Logger::device().info("Stopped device monitoring");
}

async::Task<void> DeviceManager::monitor(async::TaskHandle<void> previous, std::stop_token token) {
    try {
        async::Task<void> ending = previous.result();
        co_await ending;
    } catch (...) {
        // How the earlier task ended is its own business.
    }
    async::throwIfCancelled(token);
    async::Task<void> first = scanForDevices(token);
    co_await first;
    for (;;) {
        // A stop during a scan ends it at its current wait, and the task with it.
        async::throwIfCancelled(token);
        bool stopped = false;
        try {
            async::Task<void> pause = m_clock.sleep(scanInterval, token);
            co_await pause;
        } catch (const async::CancelledError&) {
            stopped = true;
        }
        if (stopped || token.stop_requested()) {
            // A stop during the pause ends it early, and one last scan leaves the list current.
            async::Task<void> last = scanForDevices();
            co_await last;
            co_return;
        }
        async::Task<void> scan = scanForDevices(token);
        co_await scan;
    }
}

async::Task<void> DeviceManager::scanForDevices(std::stop_token token) {
    // After every wait the manager may have been stopped or destroyed: the stop token then says
    // so, and nothing of it is touched any more.
    const async::EitherStop stop(token, m_lifetime.get_token());
    const std::stop_token scanToken = stop.token();
    async::throwIfCancelled(scanToken);
    // A device connected while the program quits would start work that nothing is left to end.
    if (async::isShuttingDown())
        co_return;
    if (dragOutCopiesRunning()) {
        Logger::device().debug("Skipping device scan while transfers are active");
        co_return;
    }

    std::shared_ptr<IMobileDeviceBridge> bridge = m_bridge;
    QStringList listed;
    std::exception_ptr failure;
    try {
        // A failed listing must not read as "no devices": that would close every session and
        // fail every running transfer on one hiccup of usbmuxd.
        async::Task<QStringList> listing = bridge->listDeviceUDIDsOrFail(scanToken);
        listed = co_await listing;
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    async::throwIfCancelled(scanToken);
    if (async::isShuttingDown())
        co_return;
    if (failure) {
        if (const std::optional<QString> tool = missingTool(failure)) {
            noteListingProblem(
                QStringLiteral("Bundled helper '%1' is missing — reinstall Orvanta").arg(*tool), true);
            dependenciesMissing = true;
            co_return;
        }
        if (!meansNoUsbmuxd(failure)) {
            noteListingProblem(
                QStringLiteral("Failed to scan for devices: ") + async::describeException(failure), true);
            co_return;
        }
        // No usbmuxd, no devices: every listed one has gone.
        noteListingProblem(QStringLiteral("usbmuxd is not running: no devices are attached"), false);
    } else if (!m_listingProblem.isEmpty()) {
        m_listingProblem.clear();
        Logger::device().info("Device listing works again");
    }
    dependenciesMissing = false;
    async::throwIfCancelled(scanToken);

    const QStringList known = udidsOf(connectedDevices.value());
    const QSet<QString> knownSet(known.cbegin(), known.cend());
    const QSet<QString> current(listed.cbegin(), listed.cend());
    // New ones in the order of the listing, duplicates once; gone ones in the order of the list.
    QStringList added;
    QSet<QString> seen;
    for (const QString& udid : listed) {
        if (!knownSet.contains(udid) && !seen.contains(udid)) {
            seen.insert(udid);
            added << udid;
        }
    }
    QStringList gone;
    QStringList kept;
    for (const QString& udid : known) {
        (current.contains(udid) ? kept : gone) << udid;
    }

    async::Task<void> adding = addDevices(added, scanToken);
    co_await adding;
    async::throwIfCancelled(scanToken);
    async::Task<void> reconnecting = reconnectDevices(kept, scanToken);
    co_await reconnecting;
    async::throwIfCancelled(scanToken);
    if (gone.isEmpty()) {
        co_return;
    }
    async::Task<void> removing = removeDevices(gone, scanToken);
    co_await removing;
}

async::Task<void> DeviceManager::addDevices(QStringList udids, std::stop_token token) {
    for (const QString& udid : udids) {
        async::throwIfCancelled(token);
        async::Task<std::optional<iOSDevice>> building = makeDevice(udid, token);
        std::optional<iOSDevice> device = co_await building;
        async::throwIfCancelled(token);
        if (async::isShuttingDown())
            co_return;
        if (!device) {
            // Not listed, so the next scan tries it again.
            continue;
        }

        // Listed whether or not the session opens (a locked device, for one); the scans that
        // follow try again.
        async::Task<std::optional<QString>> connecting = connectMedia(udid);
        const std::optional<QString> problem = co_await connecting;
        async::throwIfCancelled(token);
        device->setIsAFCConnected(!problem);

        QList<iOSDevice> devices = connectedDevices.value();
        devices.append(*device);
        connectedDevices = std::move(devices);
        const QString shownName = device->name().isEmpty() ? device->model() : device->name();
        Logger::device().info("Device connected: %s (%s) — iOS %s", shownName, udid, device->iosVersion());
    }
}

async::Task<void> DeviceManager::reconnectDevices(QStringList udids, std::stop_token token) {
    for (const QString& udid : udids) {
        std::shared_ptr<AFCBridge> afc = m_afcBridge;
        if (afc->isConnected(udid))
            continue;
        const QList<iOSDevice>& listed = connectedDevices.value();
        const bool wasReachable = std::any_of(listed.cbegin(), listed.cend(), [&udid](const iOSDevice& device) {
            return device.udid() == udid && device.isAFCConnected();
        });
        async::Task<std::optional<QString>> connecting = connectMedia(udid);
        const std::optional<QString> problem = co_await connecting;
        async::throwIfCancelled(token);
        setAFCConnected(udid, !problem);
        if (!problem && wasReachable)
            sessionsReplaced = sessionsReplaced.value() + 1;
    }
}

async::Task<std::optional<QString>> DeviceManager::connectMedia(QString udid) {
    std::shared_ptr<AFCBridge> afc = m_afcBridge;
    std::exception_ptr failure;
    try {
        async::Task<void> connecting = afc->connect(udid);
        co_await connecting;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure) {
        m_connectProblems.remove(udid);
        co_return std::nullopt;
    }
    const QString problem = async::describeException(failure);
    // A locked device is tried on every scan; the user hears of it once.
    if (m_connectProblems.value(udid) != problem)
        Logger::device().error("AFC connect failed for %s: %s", udid, problem);
    m_connectProblems.insert(udid, problem);
    co_return problem;
}

void DeviceManager::setAFCConnected(const QString& udid, bool connected) {
    QList<iOSDevice> devices = connectedDevices.value();
    bool changed = false;
    for (iOSDevice& device : devices) {
        if (device.udid() == udid && device.isAFCConnected() != connected) {
            device.setIsAFCConnected(connected);
            changed = true;
        }
    }
    if (changed)
        connectedDevices = std::move(devices);
}

void DeviceManager::noteListingProblem(const QString& problem, bool isError) {
    if (problem == m_listingProblem)
        return;
    m_listingProblem = problem;
    if (isError)
        Logger::device().error("%s", problem);
    else
        Logger::device().info("%s", problem);
}

async::Task<void> DeviceManager::removeDevices(QStringList udids, std::stop_token token) {
    std::shared_ptr<AFCBridge> afc = m_afcBridge;
    for (const QString& udid : udids) {
        // Gone: a call still waiting on it would hold the close back for as long as the library
        // waits, without end for a stalled write.
        afc->interrupt(udid);
        m_connectProblems.remove(udid);
        async::Task<void> closing = afc->disconnectAll(udid);
        co_await closing;
        Logger::device().info("Device disconnected: %s", udid);
        async::throwIfCancelled(token);
    }
    const QSet<QString> gone(udids.cbegin(), udids.cend());
    QList<iOSDevice> devices = connectedDevices.value();
    devices.removeIf([&gone](const iOSDevice& device) { return gone.contains(device.udid()); });
    connectedDevices = std::move(devices);
}

async::Task<std::optional<QString>> DeviceManager::batteryLevel(QString udid, std::stop_token token) {
    std::shared_ptr<IMobileDeviceBridge> bridge = m_bridge;
    QMap<QString, QString> battery;
    std::exception_ptr failure;
    try {
        async::Task<QMap<QString, QString>> query = bridge->domainInfo(udid, QString(batteryDomain), token);
        battery = co_await query;
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        // The device is listed all the same, only without its level.
        Logger::device().error("Failed to read the battery level of %s: %s", udid,
                               async::describeException(failure));
        co_return std::nullopt;
    }
    const auto level = battery.constFind(batteryKey);
    co_return level != battery.cend() ? std::optional<QString>(*level) : std::nullopt;
}

async::Task<std::optional<iOSDevice>> DeviceManager::makeDevice(QString udid, std::stop_token token) {
    std::shared_ptr<IMobileDeviceBridge> bridge = m_bridge;
    QMap<QString, QString> info;
    QString name;
    std::exception_ptr failure;
    try {
        async::Task<QMap<QString, QString>> infoQuery = bridge->deviceInfo(udid, token);
        info = co_await infoQuery;
        if (!info.contains(batteryKey)) {
            async::Task<std::optional<QString>> batteryQuery = batteryLevel(udid, token);
            if (const std::optional<QString> level = co_await batteryQuery)
                info.insert(batteryKey, *level);
        }
        async::Task<QString> nameQuery = bridge->deviceName(udid, token);
        name = co_await nameQuery;
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        Logger::device().error("Failed to build device info for %s: %s", udid,
                               async::describeException(failure));
        co_return std::nullopt;
    }
    co_return DeviceRecord::make(udid, info, name);
}
