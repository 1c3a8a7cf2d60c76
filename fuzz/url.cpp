// Location strings: URL parsing and printing, and the device components of a location. Locations
// come back from the settings, favourites, history and recent folders as text anyone could have
// edited.

#include "platform/URL.h"
#include "FuzzSupport.h"
#include "device/AFCComponents.h"
#include "device/AFCLocation.h"
#include "device/AFCPath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(fuzzBytes(data, size));
    const std::optional<URL> url = URL::fromString(text);
    if (!url)
        return 0;

    const std::optional<URL> again = URL::fromString(url->absoluteString());
    fuzzCheck(again.has_value() && *again == *url, "a parsed location prints as text that parses to it");
    fuzzCheck(again->scheme() == url->scheme() && again->host() == url->host() &&
                  again->encodedPath() == url->encodedPath() && again->path() == url->path(),
              "a reparsed location has the same parts");
    fuzzCheck(qHash(*again) == qHash(*url), "equal locations hash alike");

    // What the browser and the sidebar ask of any location.
    (void)url->lastPathComponent();
    (void)url->pathExtension();
    (void)url->toLocalFile();
    (void)url->hasDirectoryPath();
    const URL parent = url->deletingLastPathComponent();
    (void)url->isBelow(parent);
    (void)url->isSameLocation(parent);
    const URL child = url->appendingPathComponent(QStringLiteral("IMG_0001 (2).JPG"));
    fuzzCheck(URL::fromString(child.absoluteString()) == child, "a joined location parses back to itself");

    const std::optional<AFCComponents> components = afcComponents(*url);
    fuzzCheck(afcComponents(*again) == components, "a reparsed location has the same device components");
    if (!components)
        return 0;
    fuzzCheck(!components->udid.isEmpty() && AFCPath::isUsable(components->udid),
              "a device location names a device a library call can take");
    fuzzCheck(components->devicePath.startsWith(QLatin1Char('/')) &&
                  AFCPath::isUsable(components->devicePath),
              "a device path is absolute and a library call can take it");
    if (components->bundleID) {
        fuzzCheck(AFCPath::isSafeName(*components->bundleID), "an app of a location is one safe name");
    }

    // The builders make a location of the same place from the components.
    const URL rebuilt =
        components->bundleID
            ? AFCLocation::containerURL(components->udid, *components->bundleID, components->devicePath)
            : AFCLocation::mediaURL(components->udid, components->devicePath);
    const std::optional<AFCComponents> reread = afcComponents(rebuilt);
    fuzzCheck(reread.has_value() && reread->udid == components->udid &&
                  reread->bundleID == components->bundleID,
              "a location built from components names the same device and app");
    fuzzCheck(rebuilt.isSameLocation(*url), "a location built from components names the same place");
    return 0;
}
