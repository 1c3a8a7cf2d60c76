#pragma once

#include "PlistUtil.h"

namespace fakemux {

class Socket;

// The framing of lockdownd, house_arrest and installation_proxy: a 4-byte big-endian length, then
// the plist. Replies are XML and go out with the length in one send, because the client reads the
// length with a single recv.
class PlistChannel {
public:
    explicit PlistChannel(const Socket& socket) : m_socket(socket) {}

    // The next request; empty on end of stream, a broken frame or bytes that are no plist.
    Plist receive() const;
    bool send(plist_t message) const;

private:
    const Socket& m_socket;
};

} // namespace fakemux
