#pragma once

namespace fakemux {

class RequestLog;
class Socket;
class VirtualDevice;

// house_arrest: one Vend command, then AFC on the same connection rooted at the app's container
// (VendContainer) or its Documents folder (VendDocuments). An error answer closes the connection,
// as the device does.
class HouseArrestService {
public:
    HouseArrestService(VirtualDevice& device, RequestLog& log);

    void run(const Socket& socket);

private:
    VirtualDevice& m_device;
    RequestLog& m_log;
};

} // namespace fakemux
