#pragma once

#include "DeviceDescription.h"
#include "DeviceTable.h"
#include "PortTable.h"
#include "RequestLog.h"
#include "VirtualDevice.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

namespace fakemux {

class UsbmuxServer;

// An in-process usbmuxd with virtual iPhones behind it. The real client library and its tools
// reach it through USBMUXD_SOCKET_ADDRESS=socketAddress(). Devices can be added, plugged and
// unplugged while it runs; its fault switches may be flipped from any thread.
class Emulator {
public:
    // Makes a short private folder (/tmp/fmx-XXXXXX: the client cuts socket paths beyond 107
    // bytes silently). Throws std::system_error on failure.
    static std::filesystem::path makeFolder();
    static std::string socketAddressFor(const std::filesystem::path& folder) {
        return "UNIX:" + (folder / "mux").string();
    }

    // Listens on <folder>/mux in a new folder of its own.
    Emulator();
    // Listens on <folder>/mux and removes the folder when destroyed. Lets a test main set
    // USBMUXD_SOCKET_ADDRESS before the emulator starts its first thread.
    explicit Emulator(std::filesystem::path folder);
    // Stops, joins every thread and removes the folder.
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    const std::filesystem::path& folder() const { return m_folder; }
    std::string socketPath() const { return (m_folder / "mux").string(); }
    // The value for USBMUXD_SOCKET_ADDRESS.
    std::string socketAddress() const { return socketAddressFor(m_folder); }

    // Adds a plugged-in device; its UDID must be new. The reference lives until the device is removed.
    VirtualDevice& addDevice(DeviceDescription description);
    VirtualDevice* device(const std::string& udid) const;
    // Unplugs the device and forgets it; running connections keep it alive until they end.
    void removeDevice(const std::string& udid);
    void removeAllDevices();
    void plug(const std::string& udid);
    void unplug(const std::string& udid);

    RequestLog& log() { return m_log; }

    // Cuts every connection and joins every thread; the tools then fail as with no usbmuxd.
    void stop();

private:
    std::filesystem::path m_folder;
    RequestLog m_log;
    PortTable m_ports;
    DeviceTable m_devices;
    std::atomic<uint32_t> m_nextDeviceId{1};
    std::unique_ptr<UsbmuxServer> m_server;
};

} // namespace fakemux
