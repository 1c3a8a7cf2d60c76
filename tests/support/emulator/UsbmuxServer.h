#pragma once

#include "ConnectionThreads.h"
#include "PlistUtil.h"
#include "Socket.h"

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace fakemux {

class DeviceTable;
class PortTable;
class RequestLog;
class VirtualDevice;

// The usbmuxd socket: device lists, hot-plug notices, pair records, and Connect, after which the
// same socket carries the raw bytes of a device service. Replies are XML plists, and a Result is
// never 6, which would switch the client library to the old protocol for the whole process.
class UsbmuxServer {
public:
    UsbmuxServer(const std::string& socketPath, DeviceTable& devices, PortTable& ports, RequestLog& log);
    ~UsbmuxServer();
    UsbmuxServer(const UsbmuxServer&) = delete;
    UsbmuxServer& operator=(const UsbmuxServer&) = delete;

    // Tells every Listen client that the device came or went.
    void notify(VirtualDevice& device, bool plugged);
    // Present as a daemon that runs, or gone as one that has exited: its socket file disappears
    // (a client's connect fails as with no daemon) and its Listen connections are closed.
    // Connections already serving a device stay: they end with their device.
    void setPresent(bool present);
    // Stops accepting, cuts every connection and joins all threads.
    void stop();

private:
    struct Header {
        uint32_t length = 0;
        uint32_t version = 0;
        uint32_t message = 0;
        uint32_t tag = 0;
    };

    void acceptLoop();
    void serve(const Socket& socket);
    bool reply(const Socket& socket, uint32_t tag, plist_t message);
    bool result(const Socket& socket, uint32_t tag, uint32_t number);
    // true when the connection goes on to carry more mux requests.
    bool handle(const Socket& socket, uint32_t tag, plist_t request);
    void listen(const Socket& socket, uint32_t tag);
    void connect(const Socket& socket, uint32_t tag, plist_t request);
    void runService(const Socket& socket, VirtualDevice& device, const std::string& service);
    Plist attachedMessage(VirtualDevice& device) const;

    const std::string m_socketPath;
    DeviceTable& m_devices;
    PortTable& m_ports;
    RequestLog& m_log;
    Socket m_listener;
    ConnectionThreads m_connections;
    std::thread m_acceptThread;

    std::mutex m_listenMutex;
    std::set<int> m_listeners;
};

} // namespace fakemux
