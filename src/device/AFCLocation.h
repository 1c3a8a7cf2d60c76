#pragma once

#include "platform/URL.h"

#include <QString>

// Builders of "afc" location URLs. They assemble the URL from its parts, so that names with
// spaces, "%", "?", "#" or non-ASCII letters are percent-encoded and read back intact by
// afcComponents(). A path without its leading "/" gets one.
//
// A bundle identifier must not contain "/": the parser would split it. The app listing only
// hands out identifiers it has checked.
class AFCLocation {
public:
    // afc://<udid>/
    static URL mediaRoot(const QString& udid);
    // afc://<udid><path>
    static URL mediaURL(const QString& udid, const QString& devicePath);
    // afc://<udid>/.app/<bundle id>/ (the container root keeps its trailing "/")
    static URL containerRoot(const QString& udid, const QString& bundleID);
    // afc://<udid>/.app/<bundle id><path>
    static URL containerURL(const QString& udid, const QString& bundleID, const QString& containerPath);

    AFCLocation() = delete;
};
