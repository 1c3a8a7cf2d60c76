#include "device/AFCLocation.h"

namespace {

const QString scheme = QStringLiteral("afc");

QString absolute(const QString& path) {
    return path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
}

} // namespace

URL AFCLocation::mediaRoot(const QString& udid) {
    return URL::fromComponents(scheme, udid, QStringLiteral("/"));
}

URL AFCLocation::mediaURL(const QString& udid, const QString& devicePath) {
    return URL::fromComponents(scheme, udid, absolute(devicePath));
}

URL AFCLocation::containerRoot(const QString& udid, const QString& bundleID) {
    return URL::fromComponents(scheme, udid, QStringLiteral("/.app/") + bundleID + QLatin1Char('/'));
}

URL AFCLocation::containerURL(const QString& udid, const QString& bundleID, const QString& containerPath) {
    return URL::fromComponents(scheme, udid, QStringLiteral("/.app/") + bundleID + absolute(containerPath));
}
