#include "platform/ArchivedURL.h"

#include "platform/PropertyList.h"

#include <QVariantMap>

namespace {

const QString archiverKey = QStringLiteral("$archiver");
const QString archiverName = QStringLiteral("OrvantaURLArchiver");
const QString urlKey = QStringLiteral("URL");

} // namespace

QByteArray archiveURL(const URL& url) {
    const QVariantMap root{{archiverKey, archiverName}, {urlKey, url.absoluteString()}};
    return PropertyList::toBinary(root).value_or(QByteArray());
}

std::optional<URL> unarchiveURL(const QByteArray& data) {
    if (!PropertyList::isBinary(data))
        return std::nullopt;
    const std::optional<QVariant> root = PropertyList::fromData(data);
    if (!root || root->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = root->toMap();
    const QVariant archiver = map.value(archiverKey);
    const QVariant text = map.value(urlKey);
    if (archiver.typeId() != QMetaType::QString || archiver.toString() != archiverName ||
        text.typeId() != QMetaType::QString)
        return std::nullopt;
    return URL::fromString(text.toString());
}
