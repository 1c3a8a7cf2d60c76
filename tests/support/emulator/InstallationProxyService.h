#pragma once

namespace fakemux {

class RequestLog;
class Socket;
class VirtualDevice;

// installation_proxy Browse: the device's apps, filtered by ReturnAttributes, in one or more
// BrowsingApplications pages and then Complete. Anything it cannot answer ends with an Error and a
// closed connection, because the client waits for Complete without limit.
class InstallationProxyService {
public:
    InstallationProxyService(VirtualDevice& device, RequestLog& log);

    void run(const Socket& socket);

private:
    VirtualDevice& m_device;
    RequestLog& m_log;
};

} // namespace fakemux
