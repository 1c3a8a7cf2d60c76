#pragma once

#include "emulator/DeviceDescription.h"

#include <QByteArray>
#include <QDir>
#include <QString>

#include <stdexcept>
#include <vector>

// A device as the configuration file describes it: what the emulator serves, and the state it
// starts in.
struct ConfiguredDevice {
    fakemux::DeviceDescription description;
    bool plugged = true;
    bool locked = false;
};

// Reads the JSON file that lists the devices to serve:
//
//   {"devices": [{"udid": "00008110-001A2B3C4D5E6F70", "name": "Ada's iPhone", "media": "media",
//                 "values": {"ProductType": "iPhone15,2"}, "battery": {"BatteryCurrentCapacity": 80},
//                 "apps": [{"bundleId": "com.example.notes", "displayName": "Notes",
//                           "fileSharing": true, "container": "apps/notes"}]}]}
//
// Relative folders are taken from the base folder. Unknown keys are errors: a misspelt key in a
// hand-written file would otherwise pass silently and leave a device other than the one meant.
class DeviceConfig {
public:
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    static std::vector<ConfiguredDevice> parse(const QByteArray& json, const QDir& base);
    static std::vector<ConfiguredDevice> load(const QString& path, const QDir& base);
};
