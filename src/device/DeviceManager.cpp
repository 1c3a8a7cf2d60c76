#include "device/DeviceManager.h"

#include "device/AFCBridge.h"
#include "device/DeviceRecord.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunnerError.h"
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

// A missing tool is the user's to fix (the empty state asks for a reinstall); anything else is
// a hiccup of the tool or of usbmuxd that the next scan may not meet again.
bool reportListingFailure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ProcessRunnerError& error) {
        if (error.errorCase() == ProcessRunnerError::Case::executableNotFound) {
            Logger::device().error("Bundled helper '%s' is missing — reinstall Orvanta", error.name());
            return true;
        }
    } catch (...) {
    }
    Logger::device().error("Failed to scan for devices: %s", async::describeException(failure));
    return false;
}

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
    m_monitoringTask = async::spawn([this](std::stop_token token) { return monitor(std::move(token)); });
}

void DeviceManager::stopMonitoring() {
    m_monitoringTask.cancel();
    m_monitoringTask = {};
    isMonitoring = false;
    Logger::device().info("Stopped device monitoring");
}

async::Task<void> DeviceManager::monitor(std::stop_token token) {
    async::Task<void> first = scanForDevices(token);
    co_await first;
    // A stop ends the loop at its current wait; no scan follows it, since one would only start
    // tools to kill them at once.
    for (;;) {
        async::throwIfCancelled(token);
        async::Task<void> pause = m_clock.sleep(scanInterval, token);
        co_await pause;
        async::throwIfCancelled(token);
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
    if (failure) {
        if (reportListingFailure(failure)) {
            dependenciesMissing = true;
        }
        co_return;
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
    for (const QString& udid : known) {
        if (!current.contains(udid)) {
            gone << udid;
        }
    }

    async::Task<void> adding = addDevices(added, scanToken);
    co_await adding;
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
        if (!device) {
            // Not listed, so the next scan tries it again.
            continue;
        }

        std::shared_ptr<AFCBridge> afc = m_afcBridge;
        std::exception_ptr failure;
        try {
            async::Task<void> connecting = afc->connect(udid);
            co_await connecting;
        } catch (...) {
            failure = std::current_exception();
        }
        async::throwIfCancelled(token);
        if (failure) {
            // Listed all the same (a locked device, for one), but not retried while it stays.
            Logger::device().error("AFC connect failed for %s: %s", udid, async::describeException(failure));
        } else {
            device->setIsAFCConnected(true);
        }

        QList<iOSDevice> devices = connectedDevices.value();
        devices.append(*device);
        connectedDevices = std::move(devices);
        const QString shownName = device->name().isEmpty() ? device->model() : device->name();
        Logger::device().info("Device connected: %s (%s) — iOS %s", shownName, udid, device->iosVersion());
    }
}

async::Task<void> DeviceManager::removeDevices(QStringList udids, std::stop_token token) {
    std::shared_ptr<AFCBridge> afc = m_afcBridge;
    for (const QString& udid : udids) {
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

async::Task<std::optional<iOSDevice>> DeviceManager::makeDevice(QString udid, std::stop_token token) {
    std::shared_ptr<IMobileDeviceBridge> bridge = m_bridge;
    QMap<QString, QString> info;
    QString name;
    std::exception_ptr failure;
    try {
        async::Task<QMap<QString, QString>> infoQuery = bridge->deviceInfo(udid, token);
        info = co_await infoQuery;
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
