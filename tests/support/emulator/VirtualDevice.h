#pragma once

#include "DeviceDescription.h"
#include "Faults.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace fakemux {

// One emulated iPhone: its description, whether it is plugged in, its pairing, its fault switches
// and the sockets its services hold open, so that unplugging can cut them all at once.
class VirtualDevice {
public:
    // Told when the device comes or goes, so that Listen clients hear Attached and Detached.
    using PlugObserver = std::function<void(VirtualDevice&, bool plugged)>;

    VirtualDevice(uint32_t deviceId, DeviceDescription description, PlugObserver observer);

    uint32_t deviceId() const { return m_deviceId; }
    const std::string& udid() const { return m_udid; }
    DeviceDescription description() const;
    void setDescription(DeviceDescription description);
    static const AppDescription* findApp(const DeviceDescription& description, const std::string& bundleId);

    Faults& faults() { return m_faults; }

    bool isPlugged() const;
    void plug();
    // Shuts every socket of the device down; held reads and stalled writes end as a lost connection.
    void unplug();

    // A service socket joins the device; false when the device is unplugged (the caller closes it).
    bool registerSocket(int fd);
    // Must be called before the socket is closed, so that unplug never shuts a reused descriptor.
    void unregisterSocket(int fd);

    // The pair record as usbmux serves it, XML; empty when the device is not paired.
    std::string pairRecord() const;
    void savePairRecord(const std::string& record);
    void forgetPairRecord();
    // The HostID StartSession must carry; empty when unpaired.
    std::string hostId() const;

    // AFC file handles open across all connections of the device.
    int openHandles() const { return m_openHandles.load(); }
    void handleOpened() { ++m_openHandles; }
    void handleClosed() { --m_openHandles; }

    // Healthy again: faults cleared, paired and plugged.
    void reset();

private:
    const uint32_t m_deviceId;
    const std::string m_udid;
    const PlugObserver m_observer;
    Faults m_faults;
    std::atomic<int> m_openHandles{0};

    mutable std::mutex m_mutex;
    DeviceDescription m_description;
    bool m_plugged = true;
    std::set<int> m_sockets;
    std::string m_pairRecord;
    std::string m_hostId;
};

} // namespace fakemux
