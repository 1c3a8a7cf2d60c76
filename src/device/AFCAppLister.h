#pragma once

#include "models/AppInfo.h"

#include <QList>
#include <QString>

// The user apps of a device whose documents can be browsed over USB, asked of installation_proxy
// on a connection of its own (no session of the bridge is used or kept). Blocking; executor only.
class AFCAppLister {
public:
    // Sorted by display name, case-insensitively in the user's locale. Throws AFCError
    // connectionFailed (the device cannot be opened) or sessionFailed (the service or the browse).
    static QList<AppInfo> listApps(const QString& udid);

    AFCAppLister() = delete;
};
