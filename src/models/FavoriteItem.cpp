#include "models/FavoriteItem.h"

#include "models/JsonDecodingError.h"
#include "models/JsonEntryList.h"
#include "models/JsonObjectReader.h"
#include "platform/Logger.h"
#include "platform/UuidText.h"

#include <QHashFunctions>

namespace {

const QString idKey = QStringLiteral("id");
const QString nameKey = QStringLiteral("name");
const QString urlStringKey = QStringLiteral("urlString");
const QString symbolNameKey = QStringLiteral("symbolName");

} // namespace

QJsonObject FavoriteItem::toJson() const {
    return QJsonObject{
        {idKey, uuidString(id)},
        {nameKey, name},
        {urlStringKey, urlString},
        {symbolNameKey, symbolName},
    };
}

FavoriteItem FavoriteItem::fromJson(const QJsonValue& json) {
    const JsonObjectReader reader(json, QStringLiteral("A favourite"));
    const auto id = uuidFromString(reader.string(idKey));
    if (!id)
        throw JsonDecodingError(QStringLiteral("A favourite has no UUID under \"id\""));
    return FavoriteItem{*id, reader.string(nameKey), reader.string(urlStringKey),
                        reader.string(symbolNameKey)};
}

QByteArray FavoriteItem::encodeList(const QList<FavoriteItem>& items) {
    return encodeEachEntry(items);
}

std::optional<QList<FavoriteItem>> FavoriteItem::decodeList(const QByteArray& json) {
    const std::optional<QJsonArray> array = jsonArrayOf(json);
    if (!array)
        return std::nullopt;
    // The sidebar is the favourites' only reader, so their complaints go where its own do.
    return decodeEachEntry<FavoriteItem>(*array, &FavoriteItem::fromJson, Logger::ui(),
                                         "Skipped unreadable favourite %lld: %s");
}

size_t qHash(const FavoriteItem& item, size_t seed) {
    return qHashMulti(seed, item.id, item.name, item.urlString, item.symbolName);
}
