#pragma once

#include "models/iOSDevice.h"
#include "platform/Observable.h"
#include "platform/async/ContinuousClock.h"
#include "platform/async/Task.h"
#include "platform/async/TaskHandle.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

class AFCBridge;
class IMobileDeviceBridge;

// Keeps the list of attached iPhones and iPads current. While monitoring, it scans at once and
// then after every two-second pause: each device that shows up is queried once through the
// helper tools, gets its media session opened and is appended; each device that has gone has all
// its sessions closed and leaves the list. It owns the process's one AFCBridge, through which the
// rest of the program reaches the devices.
//
// A device that stays listed but whose media session is gone or never opened (unplugged and
// plugged back in between two scans, or plugged in while locked) is connected again, at most once
// a scan. With usbmuxd gone (it leaves with the last device) there are no devices and the list
// empties; any other failed listing leaves the list as it was. A failure that repeats is logged
// once, and again only when it changes or clears.
//
// Main thread only; the published properties notify there. A stop during the pause between scans
// ends the pause and is followed by one last scan; a stop during a scan ends that scan at its
// current wait. A start after a stop waits for the stopped task to end, so two scans never touch
// the list at once. Destroying the manager makes every scan inert at its next wait.
class DeviceManager {
public:
    static constexpr std::chrono::seconds scanInterval{2};

    // Drag-out copies to the file manager running now. Scans are skipped while it is above zero.
    // Read and written only while holding transferLock, and nothing else is done under the lock;
    // its writers raise it before a copy starts and lower it afterwards, never below zero.
    static inline int64_t activeTransferCount = 0;
    static inline std::mutex transferLock;

    // Starts nothing and scans nothing. The clock paces the scans; it must outlive the manager.
    explicit DeviceManager(std::shared_ptr<IMobileDeviceBridge> bridge);
    DeviceManager(std::shared_ptr<IMobileDeviceBridge> bridge, async::ContinuousClock& clock);
    virtual ~DeviceManager();
    DeviceManager(const DeviceManager&) = delete;
    DeviceManager& operator=(const DeviceManager&) = delete;

    // In the order scans added them. Written by the scan only.
    Observable<QList<iOSDevice>> connectedDevices;
    Observable<bool> isMonitoring{false};
    // True after a scan found a helper tool missing, false again after the next listing.
    Observable<bool> dependenciesMissing{false};
    // Counts the media sessions a scan opened again for a device whose files stayed reachable
    // throughout (unplugged and back between two scans): the device list does not change, yet
    // what was listed through the old session is no longer known to be there.
    Observable<quint64> sessionsReplaced{0};

    const std::shared_ptr<IMobileDeviceBridge>& bridge() const { return m_bridge; }
    // Shared, so that the services built over it may hold it; never replaced.
    const std::shared_ptr<AFCBridge>& afcBridge() const { return m_afcBridge; }
    // The running monitoring task; an empty handle while stopped.
    const async::TaskHandle<void>& monitoringTask() const { return m_monitoringTask; }

    // Nothing at all while monitoring; else starts the task, whose first scan begins at once.
    virtual void startMonitoring();
    // Cancels the task (ending a scan in progress at its current wait, killing the tool it runs)
    // and logs, also when nothing was running. Neither closes sessions nor touches the list.
    virtual void stopMonitoring();

    // One scan. Fails only with CancelledError when token is stopped; every other failure is
    // logged and leaves the list as it was.
    virtual async::Task<void> scanForDevices(std::stop_token token = {});
    // The record of a newly seen device, not yet connected; nothing (logged) when the device
    // cannot be queried. Fails only with CancelledError.
    virtual async::Task<std::optional<iOSDevice>> makeDevice(QString udid, std::stop_token token = {});

private:
    async::Task<void> monitor(async::TaskHandle<void> previous, std::stop_token token);
    async::Task<void> addDevices(QStringList udids, std::stop_token token);
    async::Task<void> reconnectDevices(QStringList udids, std::stop_token token);
    async::Task<void> removeDevices(QStringList udids, std::stop_token token);
    // Opens the device's media session; the failure's description, or nothing. A failure is
    // logged unless it is the one the last try for this device met.
    async::Task<std::optional<QString>> connectMedia(QString udid);
    // The level in the battery's own domain, as text; nothing (logged when the query failed).
    async::Task<std::optional<QString>> batteryLevel(QString udid, std::stop_token token);
    // Logs a failed listing unless it repeats the last one; nothing clears it.
    void noteListingProblem(const QString& problem, bool isError);
    void setAFCConnected(const QString& udid, bool connected);

    std::shared_ptr<IMobileDeviceBridge> m_bridge;
    std::shared_ptr<AFCBridge> m_afcBridge;
    async::ContinuousClock& m_clock;
    async::TaskHandle<void> m_monitoringTask;
    // The task the last stop ended; a new one starts after it.
    async::TaskHandle<void> m_previousTask;
    // Stopped when the manager goes, so that a scan nobody else can stop still turns inert.
    std::stop_source m_lifetime;
    // What the last listing met when it failed (or found no usbmuxd); empty after one that worked.
    QString m_listingProblem;
    // Per device, why its media session last failed to open.
    QHash<QString, QString> m_connectProblems;
};
