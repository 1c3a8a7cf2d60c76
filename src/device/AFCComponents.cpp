#include "device/AFCComponents.h"

namespace {

const QString containerPrefix = QStringLiteral("/.app/");

} // namespace

std::optional<AFCComponents> afcComponents(const URL& url) {
    if (url.scheme() != QLatin1String("afc"))
        return std::nullopt;
    const QString udid = url.host();
    if (udid.isEmpty())
        return std::nullopt;

    // Decoded, with any trailing "/" removed unless the path is the root.
    QString path = url.path();
    if (path.isEmpty())
        path = QStringLiteral("/");
    // "%00" decodes to a NUL, at which every library call would end the path early: such a
    // location names nothing on a device.
    if (udid.contains(QChar(u'\0')) || path.contains(QChar(u'\0')))
        return std::nullopt;
    // "/.app" alone (afc://UDID/.app/ after the trailing slash is dropped) is an ordinary media path.
    if (!path.startsWith(containerPrefix))
        return AFCComponents{udid, path, std::nullopt};

    QStringView rest = QStringView(path).mid(containerPrefix.size());
    while (rest.startsWith(QLatin1Char('/')))
        rest = rest.mid(1);
    if (rest.isEmpty())
        return std::nullopt;

    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const QString bundleID = (slash < 0 ? rest : rest.left(slash)).toString();
    // "." and ".." are steps of the path, not apps: every cleaning of the path (isSameLocation,
    // isBelow) reads "/.app/../DCIM" as the media folder "/DCIM".
    if (bundleID == QLatin1String(".") || bundleID == QLatin1String(".."))
        return std::nullopt;
    const QStringView inside = slash < 0 ? QStringView() : rest.mid(slash + 1);
    const QString devicePath = QLatin1Char('/') + inside.toString();
    return AFCComponents{udid, devicePath, bundleID};
}
