#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fakemux {

class VirtualDevice;

// The devices the emulator knows, plugged or not. Connection threads hold shared pointers, so a
// device removed by the test stays alive until its last connection has ended.
class DeviceTable {
public:
    void add(std::shared_ptr<VirtualDevice> device);
    std::shared_ptr<VirtualDevice> remove(const std::string& udid);
    std::shared_ptr<VirtualDevice> byId(uint32_t deviceId) const;
    std::shared_ptr<VirtualDevice> byUdid(const std::string& udid) const;
    std::vector<std::shared_ptr<VirtualDevice>> all() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<VirtualDevice>> m_devices;
};

} // namespace fakemux
