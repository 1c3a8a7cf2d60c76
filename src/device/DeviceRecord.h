#pragma once

#include "models/iOSDevice.h"

#include <QMap>
#include <QString>

#include <optional>

// The record of a device that has just shown up, made from what `ideviceinfo` and `idevicename`
// reported about it. Plain functions over the tools' answers, so the fallbacks for missing keys
// can be checked without a device.
class DeviceRecord {
public:
    DeviceRecord() = delete;

    // Paired, not yet connected: the scan opens the session and sets isAFCConnected.
    static iOSDevice make(const QString& udid, const QMap<QString, QString>& info, const QString& name);

    // "BatteryCurrentCapacity" as printed: an optional sign and decimal digits, nothing else. No
    // range check, since the device's own figure is shown as it is; a text that is no such number,
    // or a number beyond what the record holds, gives no level.
    static std::optional<int> batteryLevel(const QString& text);
};
