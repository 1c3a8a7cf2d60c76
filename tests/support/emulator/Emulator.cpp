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

Emulator::Emulator(std::filesystem::path folder) : m_folder(std::move(folder)) {
    try {
        m_server = std::make_unique<UsbmuxServer>(socketPath(), m_devices, m_ports, m_log);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
        throw;
    }
}

Emulator::~Emulator() {
    stop();
    m_server.reset();
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

VirtualDevice& Emulator::addDevice(DeviceDescription description) {
    if (description.udid.empty() || m_devices.byUdid(description.udid))
        throw std::invalid_argument("a device needs a new UDID: " + description.udid);
    UsbmuxServer* server = m_server.get();
    auto device = std::make_shared<VirtualDevice>(m_nextDeviceId++, std::move(description),
                                                  [server](VirtualDevice& d, bool plugged) {
                                                      if (server)
                                                          server->notify(d, plugged);
                                                  });
    m_devices.add(device);
    if (server)
        server->notify(*device, true);
    return *device;
}

VirtualDevice* Emulator::device(const std::string& udid) const {
    return m_devices.byUdid(udid).get();
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

void Emulator::stop() {
    // Threads held by a fault wait on a condition, not on their socket: wake them first.
    for (const auto& device : m_devices.all())
        device->faults().interrupt();
    if (m_server)
        m_server->stop();
}

} // namespace fakemux
