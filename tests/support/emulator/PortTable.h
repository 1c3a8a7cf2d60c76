#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace fakemux {

// The service ports lockdownd hands out. Each StartService gets a fresh port that one Connect
// takes, because the client frees its lockdown connection before it connects to the service.
class PortTable {
public:
    uint16_t open(uint32_t deviceId, std::string service);
    // The service behind a port of this device; the port is spent by taking it.
    std::optional<std::string> take(uint32_t deviceId, uint16_t port);
    void clear();

private:
    std::mutex m_mutex;
    uint16_t m_next = 49152;
    std::map<uint16_t, std::pair<uint32_t, std::string>> m_ports;
};

} // namespace fakemux
