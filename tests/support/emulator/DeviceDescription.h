#pragma once

#include "LockdownValue.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fakemux {

// An installed app as installation_proxy and house_arrest see it.
struct AppDescription {
    std::string bundleId;
    std::optional<std::string> displayName;    // absent: the attribute is left out of Browse
    std::optional<bool> fileSharingEnabled;    // UIFileSharingEnabled
    std::optional<bool> opensDocumentsInPlace; // LSSupportsOpeningDocumentsInPlace
    std::filesystem::path container;           // a host folder; VendDocuments serves its Documents
};

// Everything that describes one virtual device, in plain values so that a test or a JSON loader
// can fill it. The emulator copies it when the device is added.
struct DeviceDescription {
    // The modern form "XXXXXXXX-XXXXXXXXXXXXXXXX" or 40 hex digits; compared exactly, case matters.
    std::string udid;
    std::string name = "Test iPhone";
    uint32_t productId = 0x12a8;
    std::filesystem::path mediaRoot; // the host folder the AFC media service serves
    // Root-domain lockdown values; UniqueDeviceID and DeviceName are added from udid and name when
    // missing, ProductVersion defaults to a modern release.
    std::map<std::string, LockdownValue> values;
    // Values of the battery domain "com.apple.mobile.battery".
    std::map<std::string, LockdownValue> battery;
    // Whether BatteryCurrentCapacity also appears in the root dictionary (real devices keep it in
    // the battery domain only).
    bool batteryCapacityInRoot = false;
    std::vector<AppDescription> apps;
};

inline constexpr const char* batteryDomain = "com.apple.mobile.battery";

} // namespace fakemux
