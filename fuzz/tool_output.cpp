// The helper tools' output: the device list of idevice_id, the "Key: value" lines of ideviceinfo
// and the name idevicename prints. All three come from whatever the attached phone says about
// itself, so each parser meets the same bytes.

#include "FuzzSupport.h"
#include "device/AFCComponents.h"
#include "device/AFCLocation.h"
#include "device/DeviceRecord.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessResult.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString output = ProcessResult::decodeOutput(fuzzBytes(data, size));

    const QStringList udids = IMobileDeviceBridge::parseDeviceUDIDs(output);
    for (const QString& udid : udids) {
        fuzzCheck(!udid.isEmpty() && !udid.contains(QLatin1Char('\n')), "a listed UDID is one line of text");
        // A device is reached through locations that carry its UDID: they must name that device.
        const std::optional<AFCComponents> root = afcComponents(AFCLocation::mediaRoot(udid));
        if (root) {
            fuzzCheck(root->udid == udid, "a device's location names that device");
        }
    }

    const QMap<QString, QString> info = IMobileDeviceBridge::parseDeviceInfo(output);
    for (auto it = info.cbegin(); it != info.cend(); ++it) {
        fuzzCheck(!it.key().contains(QLatin1Char('\n')) && !it.value().contains(QLatin1Char('\n')),
                  "a device fact is one line");
    }

    const QString name = IMobileDeviceBridge::parseDeviceName(output);
    const iOSDevice device =
        DeviceRecord::make(udids.value(0, QStringLiteral("00008120-001C35A20E68201E")), info, name);
    (void)qHash(device);
    return 0;
}
