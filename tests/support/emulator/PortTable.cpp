#include "PortTable.h"

namespace fakemux {

uint16_t PortTable::open(uint32_t deviceId, std::string service) {
    std::lock_guard lock(m_mutex);
    // Wrap within the dynamic range; a port still waiting for its Connect is skipped.
    do {
        m_next = m_next == 65535 ? 49152 : static_cast<uint16_t>(m_next + 1);
    } while (m_ports.count(m_next));
    m_ports[m_next] = {deviceId, std::move(service)};
    return m_next;
}

std::optional<std::string> PortTable::take(uint32_t deviceId, uint16_t port) {
    std::lock_guard lock(m_mutex);
    auto it = m_ports.find(port);
    if (it == m_ports.end() || it->second.first != deviceId)
        return std::nullopt;
    std::string service = std::move(it->second.second);
    m_ports.erase(it);
    return service;
}

void PortTable::clear() {
    std::lock_guard lock(m_mutex);
    m_ports.clear();
}

} // namespace fakemux
