#include "device/AFCAppLister.h"

#include "device/AFCError.h"
#include "device/AFCPath.h"
#include "device/AFCSessionOpener.h"
#include "platform/Logger.h"

#include <libimobiledevice/installation_proxy.h>
#include <libimobiledevice/libimobiledevice.h>
#include <plist/plist.h>

#include <QCollator>

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace {

std::optional<QString> stringValue(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    char* value = nullptr;
    plist_get_string_val(node, &value);
    if (!value)
        return QString();
    QString text = QString::fromUtf8(value);
    std::free(value);
    return text;
}

// A value that is present but not a boolean counts as false.
bool isTrue(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_BOOLEAN)
        return false;
    uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
}

std::optional<AppInfo> sharedApp(plist_t app) {
    if (!app || plist_get_node_type(app) != PLIST_DICT)
        return std::nullopt;
    if (!isTrue(app, "UIFileSharingEnabled") && !isTrue(app, "LSSupportsOpeningDocumentsInPlace"))
        return std::nullopt;
    const std::optional<QString> bundleID = stringValue(app, "CFBundleIdentifier");
    if (!bundleID)
        return std::nullopt;
    // The identifier becomes a component of "/.app/<bundle id>/" locations: one that could not
    // stand there as a single name would make those locations mean something else.
    if (!AFCPath::isSafeName(*bundleID)) {
        Logger::bridge().error("Skipped app with unusable bundle identifier: %s", *bundleID);
        return std::nullopt;
    }
    const QString displayName = stringValue(app, "CFBundleDisplayName").value_or(*bundleID);
    return AppInfo(*bundleID, *bundleID, displayName);
}

plist_t browseOptions() {
    plist_t options = instproxy_client_options_new();
    plist_dict_set_item(options, "ApplicationType", plist_new_string("User"));
    plist_t attributes = plist_new_array();
    for (const char* attribute : {"CFBundleIdentifier", "CFBundleDisplayName", "UIFileSharingEnabled",
                                  "LSSupportsOpeningDocumentsInPlace"}) {
        plist_array_append_item(attributes, plist_new_string(attribute));
    }
    plist_dict_set_item(options, "ReturnAttributes", attributes);
    return options;
}

} // namespace

QList<AppInfo> AFCAppLister::listApps(const QString& udid) {
    idevice_t device = nullptr;
    const idevice_error_t opened = idevice_new(&device, udid.toUtf8().constData());
    if (opened != IDEVICE_E_SUCCESS || !device)
        throw AFCError::connectionFailed(QStringLiteral("idevice_new error ") + QString::number(opened));

    instproxy_client_t client = nullptr;
    const instproxy_error_t started =
        instproxy_client_start_service(device, &client, AFCSessionOpener::clientLabel);
    if (started != INSTPROXY_E_SUCCESS || !client) {
        idevice_free(device);
        throw AFCError::sessionFailed(QStringLiteral("instproxy start error ") + QString::number(started));
    }

    plist_t options = browseOptions();
    plist_t result = nullptr;
    const instproxy_error_t browsed = instproxy_browse(client, options, &result);
    if (browsed != INSTPROXY_E_SUCCESS || !result) {
        if (result)
            plist_free(result);
        instproxy_client_options_free(options);
        instproxy_client_free(client);
        idevice_free(device);
        throw AFCError::sessionFailed(QStringLiteral("instproxy_browse error ") + QString::number(browsed));
    }

    QList<AppInfo> apps;
    const uint32_t count = plist_get_node_type(result) == PLIST_ARRAY ? plist_array_get_size(result) : 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (std::optional<AppInfo> app = sharedApp(plist_array_get_item(result, i)))
            apps.append(std::move(*app));
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(apps.begin(), apps.end(), [&collator](const AppInfo& a, const AppInfo& b) {
        return collator.compare(a.displayName(), b.displayName()) < 0;
    });

    plist_free(result);
    instproxy_client_options_free(options);
    instproxy_client_free(client);
    idevice_free(device);
    return apps;
}
