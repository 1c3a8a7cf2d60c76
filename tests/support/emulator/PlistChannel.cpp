#include "PlistChannel.h"

#include "Socket.h"

#include <arpa/inet.h>
#include <cstring>
#include <vector>

namespace fakemux {

namespace {
// Requests are small dictionaries; anything bigger is a broken client, not a request to buffer.
constexpr uint32_t maxFrame = 16u << 20;
} // namespace

Plist PlistChannel::receive() const {
    uint32_t be = 0;
    if (!m_socket.recvExact(&be, sizeof be))
        return {};
    uint32_t size = ntohl(be);
    if (size == 0 || size > maxFrame)
        return {};
    std::vector<char> body(size);
    if (!m_socket.recvExact(body.data(), size))
        return {};
    return PlistUtil::parse(body.data(), size);
}

bool PlistChannel::send(plist_t message) const {
    std::string xml = PlistUtil::toXml(message);
    uint32_t be = htonl(static_cast<uint32_t>(xml.size()));
    std::string frame(sizeof be, '\0');
    std::memcpy(frame.data(), &be, sizeof be);
    frame += xml;
    return m_socket.sendAll(frame.data(), frame.size());
}

} // namespace fakemux
