#include "Emulator.h"

#include "UsbmuxServer.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace fakemux {

std::filesystem::path Emulator::makeFolder() {
    char pattern[] = "/tmp/fmx-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    return pattern;
}

Emulator::Emulator() : Emulator(makeFolder()) {}

Emulator::Emulator(std::filesystem::path folder)
    : m_folder(std::move(folder)), m_socketPath(m_folder / "mux") {
    try {
        start();
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
        throw;
    }
}

Emulator::Emulator(SocketPath socket)
    : m_folder(socket.path.parent_path()), m_socketPath(std::move(socket.path)), m_ownsFolder(false) {
    start();
}

void Emulator::start() {
    m_server = std::make_unique<UsbmuxServer>(socketPath(), m_devices, m_ports, m_log);
}

Emulator::~Emulator() {
    stop();
    m_server.reset();
    std::error_code ignored;
    if (m_ownsFolder) {
        std::filesystem::remove_all(m_folder, ignored);
    } else {
        std::filesystem::remove(m_socketPath, ignored);
        std::filesystem::remove(m_socketPath.string() + ".gone", ignored);
    }
}

VirtualDevice& Emulator::addDevice(DeviceDescription description) {
    if (description.udid.empty() || m_devices.byUdid(description.udid))
        throw std::invalid_argument("a device needs a new UDID: " + description.udid);
    auto device =
        std::make_shared<VirtualDevice>(m_nextDeviceId++, std::move(description),
                                        [this](VirtualDevice& d, bool plugged) { plugChanged(d, plugged); });
    m_devices.add(device);
    plugChanged(*device, true);
    return *device;
}

VirtualDevice* Emulator::device(const std::string& udid) const {
    return m_devices.byUdid(udid).get();
}

std::vector<std::string> Emulator::udids() const {
    std::vector<std::string> udids;
    for (const auto& device : m_devices.all())
        udids.push_back(device->udid());
    return udids;
}

void Emulator::removeDevice(const std::string& udid) {
    if (auto device = m_devices.remove(udid))
        device->unplug();
}

void Emulator::removeAllDevices() {
    for (const auto& device : m_devices.all())
        removeDevice(device->udid());
    m_ports.clear();
}

void Emulator::plug(const std::string& udid) {
    if (auto device = m_devices.byUdid(udid))
        device->plug();
}

void Emulator::unplug(const std::string& udid) {
    if (auto device = m_devices.byUdid(udid))
        device->unplug();
}

void Emulator::replug(const std::string& udid) {
    if (auto device = m_devices.byUdid(udid)) {
        device->unplug();
        device->plug();
    }
}

void Emulator::setUsbmuxdLeavesWithLastDevice(bool leaves) {
    {
        std::lock_guard lock(m_presenceMutex);
        m_leavesWithLastDevice = leaves;
    }
    updatePresence();
}

bool Emulator::isUsbmuxdRunning() const {
    std::lock_guard lock(m_presenceMutex);
    return m_present;
}

void Emulator::plugChanged(VirtualDevice& device, bool plugged) {
    // The daemon comes before the device is announced, and goes after it was.
    if (plugged)
        updatePresence();
    if (m_server)
        m_server->notify(device, plugged);
    if (!plugged)
        updatePresence();
}

void Emulator::updatePresence() {
    std::lock_guard lock(m_presenceMutex);
    bool anyPlugged = false;
    for (const auto& device : m_devices.all())
        anyPlugged = anyPlugged || device->isPlugged();
    const bool present = !m_leavesWithLastDevice || anyPlugged;
    if (present == m_present || !m_server)
        return;
    m_present = present;
    m_server->setPresent(present);
}

void Emulator::stop() {
    // Threads held by a fault wait on a condition, not on their socket: wake them first.
    for (const auto& device : m_devices.all())
        device->faults().interrupt();
    if (m_server)
        m_server->stop();
}

} // namespace fakemux
