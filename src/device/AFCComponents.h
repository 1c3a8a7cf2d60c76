#pragma once

#include "platform/URL.h"

#include <QString>

#include <optional>

// A device location split into what the device layer takes: which device, which path, and the
// app whose container holds the path (none for the media area).
struct AFCComponents {
    QString udid;
    // Absolute, never empty, "/" for a root; inside the container when bundleID is set.
    QString devicePath;
    std::optional<QString> bundleID;

    bool operator==(const AFCComponents&) const = default;
};

// The one parser of "afc" location URLs:
//   afc://<udid>/<media path>                       the media area
//   afc://<udid>/.app/<bundle id>/<container path>  an app's container
// Nothing for any other scheme, for a URL without a host (an empty UDID must never reach the
// device library), and for a container path that names no app ("." and ".." name none).
std::optional<AFCComponents> afcComponents(const URL& url);
