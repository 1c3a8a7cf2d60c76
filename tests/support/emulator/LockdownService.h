#pragma once

#include "PlistUtil.h"

#include <string>

namespace fakemux {

class PortTable;
class RequestLog;
class Socket;
class VirtualDevice;

// lockdownd on device port 62078, without TLS: QueryType, GetValue, sessions, StartService and
// pairing. Every request gets an answer, an Error one when it must fail, since an unanswered
// request stalls the client for 30 seconds.
class LockdownService {
public:
    LockdownService(VirtualDevice& device, PortTable& ports, RequestLog& log);

    // Serves requests until the client closes the connection or the device is unplugged.
    void run(const Socket& socket);

private:
    Plist answer(plist_t request, const std::string& name);
    void getValue(plist_t request, plist_t reply);
    void startSession(plist_t request, plist_t reply);
    void startService(plist_t request, plist_t reply);
    void pair(plist_t request, plist_t reply);
    Plist rootDomain() const;

    VirtualDevice& m_device;
    PortTable& m_ports;
    RequestLog& m_log;
    std::string m_sessionId;
};

} // namespace fakemux
