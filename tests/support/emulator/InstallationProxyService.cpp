#include "InstallationProxyService.h"

#include "PlistChannel.h"
#include "RequestLog.h"
#include "VirtualDevice.h"

#include <algorithm>
#include <vector>

namespace fakemux {

namespace {

Plist appDict(const AppDescription& app, const std::vector<std::string>& attributes) {
    Plist dict = PlistUtil::newDict();
    PlistUtil::setString(dict.get(), "CFBundleIdentifier", app.bundleId);
    PlistUtil::setString(dict.get(), "ApplicationType", "User");
    if (app.displayName)
        PlistUtil::setString(dict.get(), "CFBundleDisplayName", *app.displayName);
    if (app.fileSharingEnabled)
        PlistUtil::setBool(dict.get(), "UIFileSharingEnabled", *app.fileSharingEnabled);
    if (app.opensDocumentsInPlace)
        PlistUtil::setBool(dict.get(), "LSSupportsOpeningDocumentsInPlace", *app.opensDocumentsInPlace);
    if (attributes.empty())
        return dict;
    Plist filtered = PlistUtil::newDict();
    for (const auto& key : attributes) {
        if (plist_t item = plist_dict_get_item(dict.get(), key.c_str()))
            plist_dict_set_item(filtered.get(), key.c_str(), plist_copy(item));
    }
    return filtered;
}

std::vector<std::string> returnAttributes(plist_t request) {
    std::vector<std::string> keys;
    plist_t options = plist_dict_get_item(request, "ClientOptions");
    plist_t list = options ? plist_dict_get_item(options, "ReturnAttributes") : nullptr;
    if (!list || plist_get_node_type(list) != PLIST_ARRAY)
        return keys;
    for (uint32_t i = 0; i < plist_array_get_size(list); ++i) {
        plist_t item = plist_array_get_item(list, i);
        if (plist_get_node_type(item) == PLIST_STRING) {
            uint64_t length = 0;
            const char* text = plist_get_string_ptr(item, &length);
            keys.emplace_back(text, length);
        }
    }
    return keys;
}

} // namespace

InstallationProxyService::InstallationProxyService(VirtualDevice& device, RequestLog& log)
    : m_device(device), m_log(log) {}

void InstallationProxyService::run(const Socket& socket) {
    PlistChannel channel(socket);
    Plist request = channel.receive();
    if (!request)
        return;
    std::string command = PlistUtil::string(request.get(), "Command").value_or("");
    m_log.add({m_device.udid(), "installation_proxy", command, ""});

    Plist reply = PlistUtil::newDict();
    auto error = m_device.faults().browseError();
    if (command != "Browse")
        error = std::make_pair(std::string("UnknownCommand"), "Only Browse is emulated");
    if (error) {
        PlistUtil::setString(reply.get(), "Error", error->first);
        PlistUtil::setString(reply.get(), "ErrorDescription", error->second);
        channel.send(reply.get());
        return;
    }

    DeviceDescription description = m_device.description();
    std::vector<std::string> attributes = returnAttributes(request.get());
    size_t total = description.apps.size();
    size_t pageSize = m_device.faults().browsePageSize();
    if (pageSize == 0)
        pageSize = std::max<size_t>(total, 1);
    for (size_t index = 0; index < total; index += pageSize) {
        size_t amount = std::min(pageSize, total - index);
        Plist page = PlistUtil::newDict();
        PlistUtil::setString(page.get(), "Status", "BrowsingApplications");
        plist_t list = plist_new_array();
        for (size_t i = index; i < index + amount; ++i)
            plist_array_append_item(list, appDict(description.apps[i], attributes).release());
        plist_dict_set_item(page.get(), "CurrentList", list);
        PlistUtil::setUint(page.get(), "CurrentAmount", amount);
        PlistUtil::setUint(page.get(), "CurrentIndex", index);
        PlistUtil::setUint(page.get(), "Total", total);
        if (!channel.send(page.get()))
            return;
    }
    PlistUtil::setString(reply.get(), "Status", "Complete");
    channel.send(reply.get());
}

} // namespace fakemux
