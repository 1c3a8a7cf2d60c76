#include "HouseArrestService.h"

#include "AFCService.h"
#include "PlistChannel.h"
#include "RequestLog.h"
#include "VirtualDevice.h"

namespace fakemux {

HouseArrestService::HouseArrestService(VirtualDevice& device, RequestLog& log)
    : m_device(device), m_log(log) {}

void HouseArrestService::run(const Socket& socket) {
    PlistChannel channel(socket);
    Plist request = channel.receive();
    if (!request)
        return;
    std::string command = PlistUtil::string(request.get(), "Command").value_or("");
    std::string bundleId = PlistUtil::string(request.get(), "Identifier").value_or("");
    m_log.add({m_device.udid(), "house_arrest", command, bundleId});

    DeviceDescription description = m_device.description();
    const AppDescription* app = VirtualDevice::findApp(description, bundleId);
    std::string error;
    if (command != "VendContainer" && command != "VendDocuments")
        error = "UnknownCommand";
    else if (!app)
        error = "ApplicationLookupFailed";
    else if (auto fault = m_device.faults().vendError(bundleId, command))
        error = *fault;

    Plist reply = PlistUtil::newDict();
    if (!error.empty()) {
        PlistUtil::setString(reply.get(), "Error", error);
        channel.send(reply.get());
        return;
    }
    PlistUtil::setString(reply.get(), "Status", "Complete");
    if (!channel.send(reply.get()))
        return;
    AFCService afc(m_device, app->container, m_log, "house_arrest",
                   command == "VendDocuments" ? "Documents" : "", bundleId);
    afc.run(socket);
}

} // namespace fakemux
