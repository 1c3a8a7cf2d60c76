#include "VirtualDevice.h"

#include "PlistUtil.h"

#include <cstdio>
#include <random>
#include <sys/socket.h>

namespace fakemux {

namespace {

std::string randomUuid() {
    std::random_device rd;
    unsigned char b[16];
    for (auto& byte : b)
        byte = static_cast<unsigned char>(rd());
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

// With TLS off the client reads only HostID; the certificates stay empty.
std::string makePairRecord(const std::string& hostId) {
    Plist record = PlistUtil::newDict();
    plist_t dict = record.get();
    PlistUtil::setString(dict, "HostID", hostId);
    PlistUtil::setString(dict, "SystemBUID", "00000000-0000-0000-0000-000000000000");
    PlistUtil::setString(dict, "WiFiMACAddress", "00:00:00:00:00:00");
    plist_dict_set_item(dict, "EscrowBag", plist_new_data("escrow", 6));
    for (const char* key : {"DeviceCertificate", "HostCertificate", "RootCertificate"})
        plist_dict_set_item(dict, key, plist_new_data("", 0));
    return PlistUtil::toXml(dict);
}

} // namespace

VirtualDevice::VirtualDevice(uint32_t deviceId, DeviceDescription description, PlugObserver observer)
    : m_deviceId(deviceId), m_udid(description.udid), m_observer(std::move(observer)),
      m_description(std::move(description)) {
    m_hostId = randomUuid();
    m_pairRecord = makePairRecord(m_hostId);
}

DeviceDescription VirtualDevice::description() const {
    std::lock_guard lock(m_mutex);
    return m_description;
}

void VirtualDevice::setDescription(DeviceDescription description) {
    std::lock_guard lock(m_mutex);
    description.udid = m_udid; // the identity of a device never changes under its connections
    m_description = std::move(description);
}

const AppDescription* VirtualDevice::findApp(const DeviceDescription& description,
                                             const std::string& bundleId) {
    for (const auto& app : description.apps) {
        if (app.bundleId == bundleId)
            return &app;
    }
    return nullptr;
}

bool VirtualDevice::isPlugged() const {
    std::lock_guard lock(m_mutex);
    return m_plugged;
}

void VirtualDevice::plug() {
    {
        std::lock_guard lock(m_mutex);
        if (m_plugged)
            return;
        m_plugged = true;
    }
    m_faults.resume();
    if (m_observer)
        m_observer(*this, true);
}

void VirtualDevice::unplug() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_plugged)
            return;
        m_plugged = false;
        for (int fd : m_sockets)
            ::shutdown(fd, SHUT_RDWR);
    }
    m_faults.interrupt();
    if (m_observer)
        m_observer(*this, false);
}

bool VirtualDevice::registerSocket(int fd) {
    std::lock_guard lock(m_mutex);
    if (!m_plugged)
        return false;
    m_sockets.insert(fd);
    return true;
}

void VirtualDevice::unregisterSocket(int fd) {
    std::lock_guard lock(m_mutex);
    m_sockets.erase(fd);
}

std::string VirtualDevice::pairRecord() const {
    if (!m_faults.pairingRefusal().empty())
        return {};
    std::lock_guard lock(m_mutex);
    return m_pairRecord;
}

void VirtualDevice::savePairRecord(const std::string& record) {
    Plist parsed = PlistUtil::parse(record.data(), record.size());
    auto hostId = PlistUtil::string(parsed.get(), "HostID");
    std::lock_guard lock(m_mutex);
    m_pairRecord = record;
    m_hostId = hostId.value_or("");
}

void VirtualDevice::forgetPairRecord() {
    std::lock_guard lock(m_mutex);
    m_pairRecord.clear();
    m_hostId.clear();
}

std::string VirtualDevice::hostId() const {
    if (!m_faults.pairingRefusal().empty())
        return {};
    std::lock_guard lock(m_mutex);
    return m_hostId;
}

void VirtualDevice::reset() {
    m_faults.clear();
    {
        std::lock_guard lock(m_mutex);
        if (m_hostId.empty()) {
            m_hostId = randomUuid();
            m_pairRecord = makePairRecord(m_hostId);
        }
    }
    plug();
}

} // namespace fakemux
