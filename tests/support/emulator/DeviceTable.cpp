#include "DeviceTable.h"

#include "VirtualDevice.h"

#include <algorithm>

namespace fakemux {

void DeviceTable::add(std::shared_ptr<VirtualDevice> device) {
    std::lock_guard lock(m_mutex);
    m_devices.push_back(std::move(device));
}

std::shared_ptr<VirtualDevice> DeviceTable::remove(const std::string& udid) {
    std::lock_guard lock(m_mutex);
    auto it =
        std::find_if(m_devices.begin(), m_devices.end(), [&](const auto& d) { return d->udid() == udid; });
    if (it == m_devices.end())
        return nullptr;
    auto device = *it;
    m_devices.erase(it);
    return device;
}

std::shared_ptr<VirtualDevice> DeviceTable::byId(uint32_t deviceId) const {
    std::lock_guard lock(m_mutex);
    for (const auto& d : m_devices) {
        if (d->deviceId() == deviceId)
            return d;
    }
    return nullptr;
}

std::shared_ptr<VirtualDevice> DeviceTable::byUdid(const std::string& udid) const {
    std::lock_guard lock(m_mutex);
    for (const auto& d : m_devices) {
        if (d->udid() == udid)
            return d;
    }
    return nullptr;
}

std::vector<std::shared_ptr<VirtualDevice>> DeviceTable::all() const {
    std::lock_guard lock(m_mutex);
    return m_devices;
}

} // namespace fakemux
