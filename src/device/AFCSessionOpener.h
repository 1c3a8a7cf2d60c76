#pragma once

#include "device/AFCSession.h"

#include <QString>

// Opens the library handles of one session. Each failure frees every handle acquired on the way
// before it throws AFCError, so a failed open leaves nothing behind. Blocking; executor only.
class AFCSessionOpener {
public:
    // The media area ("com.apple.afc"): a session holding device and afc. A locked device
    // refuses it, and the one below: deviceLocked.
    static AFCSession openMedia(const QString& udid);
    // The container of one app through house_arrest: device, afc and houseArrest.
    static AFCSession openApp(const QString& udid, const QString& bundleID);

    // The client label the device shows for our connections.
    static constexpr const char* clientLabel = "Orvanta";

    AFCSessionOpener() = delete;
};
