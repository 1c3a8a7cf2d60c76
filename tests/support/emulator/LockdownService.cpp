#include "LockdownService.h"

#include "PlistChannel.h"
#include "PortTable.h"
#include "RequestLog.h"
#include "Socket.h"
#include "VirtualDevice.h"

namespace fakemux {

namespace {

constexpr const char* lockdownType = "com.apple.mobile.lockdown";
constexpr const char* defaultProductVersion = "17.4";

// A throw-away key: the client only needs a well-formed public key to build its certificates when
// it pairs; nothing is ever encrypted with it.
constexpr const char* devicePublicKey = "-----BEGIN RSA PUBLIC KEY-----\n"
                                        "MIIBCgKCAQEA0inNlp74elvRpbi2xD2H1BnxkdawFj/6w3jiO61lxsqN0co4ag5Z\n"
                                        "T7x7Jb+ubafK3LO7wYICKW85/FTXApAyxKbscGwXpKXD1GOCVN46PUarLrW84LhW\n"
                                        "RZthiMZ3rxhYDFzYHtiHPbsOaRcl1yoIuGpOBaQOJHpQU/gvoGra9eWsFqoyVaJp\n"
                                        "R2E678AgnfEq/GJqlIxR6ORL7tyNT5J8LtzNgJBQqCsiSM8tF9/h6mQf3Jj8gOuL\n"
                                        "9LJ5k2xj1FmhnuYkyIwqz7INajdK9cWD5Af4U9X4kzYAT+wcwFM3ks0hqEbStu+F\n"
                                        "mqqfKvrFMFOKKZxCa1qeQ+ujaNFlJkA2BwIDAQAB\n"
                                        "-----END RSA PUBLIC KEY-----\n";

// Services that a locked device keeps closed until the owner unlocks it.
bool needsUnlock(const std::string& service) {
    return service == "com.apple.afc" || service == "com.apple.mobile.house_arrest";
}

bool isKnownService(const std::string& service) {
    return needsUnlock(service) || service == "com.apple.mobile.installation_proxy";
}

void fail(plist_t reply, const std::string& error) {
    PlistUtil::setString(reply, "Error", error);
}

} // namespace

LockdownService::LockdownService(VirtualDevice& device, PortTable& ports, RequestLog& log)
    : m_device(device), m_ports(ports), m_log(log) {}

void LockdownService::run(const Socket& socket) {
    PlistChannel channel(socket);
    for (;;) {
        Plist request = channel.receive();
        if (!request || plist_get_node_type(request.get()) != PLIST_DICT)
            return;
        std::string name = PlistUtil::string(request.get(), "Request").value_or("");
        // A held request ("StartService") stands for a device slow to start a session.
        if (!m_device.faults().passRequest(name))
            return;
        Plist reply = answer(request.get(), name);
        if (!channel.send(reply.get()))
            return;
    }
}

Plist LockdownService::answer(plist_t request, const std::string& name) {
    std::string detail =
        PlistUtil::string(request, "Key").value_or(PlistUtil::string(request, "Service").value_or(""));
    m_log.add({m_device.udid(), "lockdownd", name, detail});

    Plist reply = PlistUtil::newDict();
    PlistUtil::setString(reply.get(), "Request", name);
    if (name == "QueryType") {
        PlistUtil::setString(reply.get(), "Type", lockdownType);
        return reply;
    }
    if (name == "GetValue") {
        getValue(request, reply.get());
        return reply;
    }
    if (name == "StartSession") {
        startSession(request, reply.get());
        return reply;
    }
    if (name == "StopSession") {
        m_sessionId.clear();
        PlistUtil::setString(reply.get(), "Result", "Success");
        return reply;
    }
    if (name == "StartService") {
        startService(request, reply.get());
        return reply;
    }
    if (name == "ValidatePair") {
        if (m_device.hostId().empty())
            fail(reply.get(), "InvalidHostID");
        else
            PlistUtil::setString(reply.get(), "Result", "Success");
        return reply;
    }
    if (name == "Pair") {
        pair(request, reply.get());
        return reply;
    }
    if (name == "SetValue") {
        PlistUtil::setString(reply.get(), "Result", "Success");
        return reply;
    }
    fail(reply.get(), "InvalidRequest");
    return reply;
}

Plist LockdownService::rootDomain() const {
    DeviceDescription description = m_device.description();
    Plist root = PlistUtil::newDict();
    for (const auto& [key, value] : description.values)
        plist_dict_set_item(root.get(), key.c_str(), toPlist(value));
    if (!plist_dict_get_item(root.get(), "UniqueDeviceID"))
        PlistUtil::setString(root.get(), "UniqueDeviceID", description.udid);
    if (!plist_dict_get_item(root.get(), "DeviceName"))
        PlistUtil::setString(root.get(), "DeviceName", description.name);
    if (!plist_dict_get_item(root.get(), "ProductVersion"))
        PlistUtil::setString(root.get(), "ProductVersion", defaultProductVersion);
    if (description.batteryCapacityInRoot) {
        auto capacity = description.battery.find("BatteryCurrentCapacity");
        if (capacity != description.battery.end())
            plist_dict_set_item(root.get(), "BatteryCurrentCapacity", toPlist(capacity->second));
    }
    // Hidden keys go last, so that a test can also take away the defaults above.
    std::vector<std::string> hidden;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(root.get(), &it);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root.get(), it, &key, &value);
        if (!key)
            break;
        if (m_device.faults().isHidden(key))
            hidden.emplace_back(key);
        free(key);
    }
    free(it);
    for (const auto& key : hidden)
        plist_dict_remove_item(root.get(), key.c_str());
    return root;
}

void LockdownService::getValue(plist_t request, plist_t reply) {
    auto domain = PlistUtil::string(request, "Domain");
    auto key = PlistUtil::string(request, "Key");
    if (domain)
        PlistUtil::setString(reply, "Domain", *domain);
    if (key)
        PlistUtil::setString(reply, "Key", *key);

    Plist values;
    if (!domain || domain->empty()) {
        values = rootDomain();
    } else if (*domain == batteryDomain) {
        values = PlistUtil::newDict();
        for (const auto& [name, value] : m_device.description().battery)
            plist_dict_set_item(values.get(), name.c_str(), toPlist(value));
    } else {
        return fail(reply, "MissingValue");
    }

    if (!key) {
        plist_dict_set_item(reply, "Value", values.release());
        return;
    }
    plist_t item = plist_dict_get_item(values.get(), key->c_str());
    if (item) {
        plist_dict_set_item(reply, "Value", plist_copy(item));
    } else if (*key == "DevicePublicKey" && (!domain || domain->empty())) {
        // Asked only by a client that is about to pair; kept out of the dump ideviceinfo prints.
        plist_dict_set_item(reply, "Value",
                            plist_new_data(devicePublicKey, std::char_traits<char>::length(devicePublicKey)));
    } else {
        fail(reply, "MissingValue");
    }
}

void LockdownService::startSession(plist_t request, plist_t reply) {
    auto hostId = PlistUtil::string(request, "HostID").value_or("");
    std::string expected = m_device.hostId();
    if (m_device.faults().hostIdRejected() || expected.empty() || hostId != expected)
        return fail(reply, "InvalidHostID");
    m_sessionId = "FAKE-SESSION-" + std::to_string(m_device.deviceId());
    PlistUtil::setString(reply, "SessionID", m_sessionId);
    PlistUtil::setBool(reply, "EnableSessionSSL", false);
}

void LockdownService::startService(plist_t request, plist_t reply) {
    std::string service = PlistUtil::string(request, "Service").value_or("");
    if (!service.empty())
        PlistUtil::setString(reply, "Service", service);
    if (m_sessionId.empty())
        return fail(reply, "SessionInactive");
    if (auto refusal = m_device.faults().serviceRefusal(service))
        return fail(reply, *refusal);
    if (!isKnownService(service))
        return fail(reply, "InvalidService");
    if (needsUnlock(service) && m_device.faults().locked())
        return fail(reply, "PasswordProtected");
    PlistUtil::setUint(reply, "Port", m_ports.open(m_device.deviceId(), service));
    PlistUtil::setBool(reply, "EnableServiceSSL", false);
}

void LockdownService::pair(plist_t request, plist_t reply) {
    std::string refusal = m_device.faults().pairingRefusal();
    if (!refusal.empty())
        return fail(reply, refusal);
    plist_t record = plist_dict_get_item(request, "PairRecord");
    if (!record || !PlistUtil::string(record, "HostID"))
        return fail(reply, "InvalidPairRecord");
    // The client stores the record through the mux (SavePairRecord) once this answer arrives.
    plist_dict_set_item(reply, "EscrowBag", plist_new_data("escrow", 6));
}

} // namespace fakemux
