#pragma once

#include "DeviceDescription.h"
#include "DeviceTable.h"
#include "PortTable.h"
#include "RequestLog.h"
#include "VirtualDevice.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
    // Listens on a socket path in a folder that stays the caller's: only the socket itself is
    // removed when destroyed. For a stand-alone emulator at a path its user chose.
    struct SocketPath {
        std::filesystem::path path;
    };
    explicit Emulator(SocketPath socket);
    // Stops, joins every thread and removes the folder.
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    const std::filesystem::path& folder() const { return m_folder; }
    std::string socketPath() const { return m_socketPath.string(); }
    // The value for USBMUXD_SOCKET_ADDRESS.
    std::string socketAddress() const { return "UNIX:" + socketPath(); }

    // Adds a plugged-in device; its UDID must be new. The reference lives until the device is removed.
    VirtualDevice& addDevice(DeviceDescription description);
    VirtualDevice* device(const std::string& udid) const;
    // The UDIDs of every device, plugged or not, in the order they were added.
    std::vector<std::string> udids() const;
    // Unplugs the device and forgets it; running connections keep it alive until they end.
    void removeDevice(const std::string& udid);
    void removeAllDevices();
    void plug(const std::string& udid);
    void unplug(const std::string& udid);
    // Out and back in at once, faster than any scan: the device is the same, every connection
    // to it is cut.
    void replug(const std::string& udid);

    // The system's usbmuxd is started by udev with the first device and exits with the last.
    // While this is on, the emulator does the same: with no device plugged in its socket is gone
    // and the tools fail; the next device brings it back. Off: always there (the default).
    void setUsbmuxdLeavesWithLastDevice(bool leaves);
    bool isUsbmuxdRunning() const;

    RequestLog& log() { return m_log; }

    // Cuts every connection and joins every thread; the tools then fail as with no usbmuxd.
    void stop();

private:
    void start();
    void plugChanged(VirtualDevice& device, bool plugged);
    void updatePresence();

    std::filesystem::path m_folder;
    std::filesystem::path m_socketPath;
    bool m_ownsFolder = true;
    RequestLog m_log;
    PortTable m_ports;
    DeviceTable m_devices;
    std::atomic<uint32_t> m_nextDeviceId{1};
    std::unique_ptr<UsbmuxServer> m_server;
    mutable std::mutex m_presenceMutex;
    bool m_leavesWithLastDevice = false;
    bool m_present = true;
};

} // namespace fakemux
