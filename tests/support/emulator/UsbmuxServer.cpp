#include "UsbmuxServer.h"

#include "AFCService.h"
#include "DeviceTable.h"
#include "HouseArrestService.h"
#include "InstallationProxyService.h"
#include "LockdownService.h"
#include "PortTable.h"
#include "RequestLog.h"
#include "VirtualDevice.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <vector>

namespace fakemux {

namespace {

constexpr uint32_t plistMessage = 8;
constexpr uint32_t resultOk = 0;
constexpr uint32_t resultBadCommand = 1;
constexpr uint32_t resultBadDevice = 2;
constexpr uint32_t resultConnRefused = 3;
constexpr uint32_t maxMessage = 1u << 20;
constexpr uint16_t lockdownPort = 62078;
constexpr int sendBufferBytes = 4 << 20;
constexpr const char* systemBuid = "5A1E0C3B-7F2D-4E6A-9B1C-0D2E3F4A5B6C";

// The USB serial of a modern device is its UDID without the dash.
std::string usbSerial(const std::string& udid) {
    std::string serial;
    for (char c : udid) {
        if (c != '-')
            serial += c;
    }
    return serial;
}

} // namespace

UsbmuxServer::UsbmuxServer(const std::string& socketPath, DeviceTable& devices, PortTable& ports,
                           RequestLog& log)
    : m_socketPath(socketPath), m_devices(devices), m_ports(ports), m_log(log),
      m_listener(Socket::listenUnix(socketPath)) {
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

UsbmuxServer::~UsbmuxServer() {
    stop();
}

void UsbmuxServer::stop() {
    if (m_listener.isValid())
        ::shutdown(m_listener.fd(), SHUT_RDWR);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    m_connections.stopAndJoin();
}

void UsbmuxServer::acceptLoop() {
    for (;;) {
        Socket client = m_listener.accept();
        if (!client.isValid())
            return;
        // A file chunk of a MiB leaves in one send instead of five rounds through the default
        // buffer; a refusal (the system's limit) leaves the default, which only costs speed.
        int size = sendBufferBytes;
        ::setsockopt(client.fd(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        if (!m_connections.start(std::move(client), [this](const Socket& s) { serve(s); }))
            return;
    }
}

void UsbmuxServer::serve(const Socket& socket) {
    for (;;) {
        Header header;
        if (!socket.recvExact(&header, sizeof header))
            return;
        if (header.length < sizeof header || header.length > maxMessage)
            return;
        std::vector<char> body(header.length - sizeof header);
        if (!socket.recvExact(body.data(), body.size()))
            return;
        Plist request = PlistUtil::parse(body.data(), body.size());
        if (header.message != plistMessage || !request || plist_get_node_type(request.get()) != PLIST_DICT) {
            result(socket, header.tag, resultBadCommand);
            return;
        }
        if (!handle(socket, header.tag, request.get()))
            return;
    }
}

bool UsbmuxServer::reply(const Socket& socket, uint32_t tag, plist_t message) {
    std::string xml = PlistUtil::toXml(message);
    Header header{static_cast<uint32_t>(sizeof(Header) + xml.size()), 1, plistMessage, tag};
    std::string frame(sizeof header, '\0');
    std::memcpy(frame.data(), &header, sizeof header);
    frame += xml;
    return socket.sendAll(frame.data(), frame.size());
}

bool UsbmuxServer::result(const Socket& socket, uint32_t tag, uint32_t number) {
    Plist message = PlistUtil::newDict();
    PlistUtil::setString(message.get(), "MessageType", "Result");
    PlistUtil::setUint(message.get(), "Number", number);
    return reply(socket, tag, message.get());
}

Plist UsbmuxServer::attachedMessage(VirtualDevice& device) const {
    DeviceDescription description = device.description();
    Plist properties = PlistUtil::newDict();
    PlistUtil::setString(properties.get(), "ConnectionType", "USB");
    PlistUtil::setUint(properties.get(), "DeviceID", device.deviceId());
    PlistUtil::setString(properties.get(), "SerialNumber", description.udid);
    PlistUtil::setString(properties.get(), "USBSerialNumber", usbSerial(description.udid));
    PlistUtil::setUint(properties.get(), "ProductID", description.productId);
    PlistUtil::setUint(properties.get(), "LocationID", 0x14100000u + device.deviceId());
    PlistUtil::setUint(properties.get(), "ConnectionSpeed", 480000000);

    Plist message = PlistUtil::newDict();
    PlistUtil::setString(message.get(), "MessageType", "Attached");
    PlistUtil::setUint(message.get(), "DeviceID", device.deviceId());
    plist_dict_set_item(message.get(), "Properties", properties.release());
    return message;
}

bool UsbmuxServer::handle(const Socket& socket, uint32_t tag, plist_t request) {
    std::string type = PlistUtil::string(request, "MessageType").value_or("");
    std::string recordId = PlistUtil::string(request, "PairRecordID").value_or("");
    if (type != "Connect")
        m_log.add({recordId, "usbmux", type, ""});

    if (type == "ListDevices") {
        Plist message = PlistUtil::newDict();
        plist_t list = plist_new_array();
        for (const auto& device : m_devices.all()) {
            if (device->isPlugged())
                plist_array_append_item(list, attachedMessage(*device).release());
        }
        plist_dict_set_item(message.get(), "DeviceList", list);
        reply(socket, tag, message.get());
        return false;
    }
    if (type == "Listen") {
        listen(socket, tag);
        return false;
    }
    if (type == "Connect") {
        connect(socket, tag, request);
        return false;
    }
    if (type == "ReadBUID") {
        Plist message = PlistUtil::newDict();
        PlistUtil::setString(message.get(), "BUID", systemBuid);
        return reply(socket, tag, message.get());
    }
    if (type == "ReadPairRecord" || type == "SavePairRecord" || type == "DeletePairRecord") {
        auto device = m_devices.byUdid(recordId);
        if (!device)
            return result(socket, tag, resultBadDevice);
        if (type == "ReadPairRecord") {
            std::string record = device->pairRecord();
            // Any non-zero Result reads as "not paired", and the client goes on to pair.
            if (record.empty())
                return result(socket, tag, resultBadDevice);
            Plist message = PlistUtil::newDict();
            plist_dict_set_item(message.get(), "PairRecordData",
                                plist_new_data(record.data(), record.size()));
            return reply(socket, tag, message.get());
        }
        if (type == "SavePairRecord") {
            plist_t data = plist_dict_get_item(request, "PairRecordData");
            if (!data || plist_get_node_type(data) != PLIST_DATA)
                return result(socket, tag, resultBadCommand);
            uint64_t length = 0;
            const char* bytes = plist_get_data_ptr(data, &length);
            device->savePairRecord(std::string(bytes ? bytes : "", bytes ? length : 0));
        } else {
            device->forgetPairRecord();
        }
        return result(socket, tag, resultOk);
    }
    return result(socket, tag, resultBadCommand);
}

void UsbmuxServer::listen(const Socket& socket, uint32_t tag) {
    {
        // Under the lock, so that no notice overtakes the Result or the initial device list.
        std::lock_guard lock(m_listenMutex);
        if (!result(socket, tag, resultOk))
            return;
        for (const auto& device : m_devices.all()) {
            if (device->isPlugged() && !reply(socket, 0, attachedMessage(*device).get()))
                return;
        }
        m_listeners.insert(socket.fd());
    }
    // The client only ever closes a Listen connection; wait for that (or for stop's shutdown).
    char byte;
    while (socket.recvExact(&byte, 1)) {
    }
    std::lock_guard lock(m_listenMutex);
    m_listeners.erase(socket.fd());
}

void UsbmuxServer::notify(VirtualDevice& device, bool plugged) {
    Plist message;
    if (plugged) {
        message = attachedMessage(device);
    } else {
        message = PlistUtil::newDict();
        PlistUtil::setString(message.get(), "MessageType", "Detached");
        PlistUtil::setUint(message.get(), "DeviceID", device.deviceId());
    }
    std::lock_guard lock(m_listenMutex);
    for (int fd : m_listeners) {
        // A borrowed descriptor: the Listen thread owns and closes it, after leaving this set.
        Socket borrowed(fd);
        reply(borrowed, 0, message.get());
        (void)borrowed.release();
    }
}

void UsbmuxServer::setPresent(bool present) {
    // The listening socket stays open under another name, so the accept thread needs no restart.
    const std::string hidden = m_socketPath + ".gone";
    if (present) {
        ::rename(hidden.c_str(), m_socketPath.c_str());
        return;
    }
    ::rename(m_socketPath.c_str(), hidden.c_str());
    std::lock_guard lock(m_listenMutex);
    for (int fd : m_listeners)
        ::shutdown(fd, SHUT_RDWR);
}

void UsbmuxServer::connect(const Socket& socket, uint32_t tag, plist_t request) {
    auto deviceId = PlistUtil::uint(request, "DeviceID").value_or(0);
    // The port travels in network byte order inside an integer.
    auto port = ntohs(static_cast<uint16_t>(PlistUtil::uint(request, "PortNumber").value_or(0)));
    auto device = m_devices.byId(static_cast<uint32_t>(deviceId));
    m_log.add({device ? device->udid() : std::string(), "usbmux", "Connect", std::to_string(port)});
    if (!device || !device->isPlugged()) {
        result(socket, tag, resultBadDevice);
        return;
    }
    std::string service = "lockdownd";
    if (port != lockdownPort) {
        auto taken = m_ports.take(device->deviceId(), port);
        if (!taken) {
            result(socket, tag, resultConnRefused);
            return;
        }
        service = *taken;
    }
    if (!device->registerSocket(socket.fd())) {
        result(socket, tag, resultBadDevice);
        return;
    }
    if (result(socket, tag, resultOk))
        runService(socket, *device, service);
    device->unregisterSocket(socket.fd());
}

void UsbmuxServer::runService(const Socket& socket, VirtualDevice& device, const std::string& service) {
    if (service == "lockdownd") {
        LockdownService(device, m_ports, m_log).run(socket);
    } else if (service == "com.apple.afc") {
        AFCService(device, device.description().mediaRoot, m_log, "afc").run(socket);
    } else if (service == "com.apple.mobile.house_arrest") {
        HouseArrestService(device, m_log).run(socket);
    } else if (service == "com.apple.mobile.installation_proxy") {
        InstallationProxyService(device, m_log).run(socket);
    }
}

} // namespace fakemux
