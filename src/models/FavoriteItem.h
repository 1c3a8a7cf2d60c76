#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// One folder in the sidebar's Favorites section, on the computer or on a device, as it is kept
// in the user's defaults. The folder is kept as its URL's full text, so a favourite on a device
// that is not attached still loads.
struct FavoriteItem {
    QUuid id;
    QString name;       // the title shown in the sidebar
    QString urlString;  // absolute text of the folder's location URL
    QString symbolName; // the icon shown with it

    QJsonObject toJson() const;
    // Throws JsonDecodingError when a key is missing, holds another type, or "id" is no UUID.
    static FavoriteItem fromJson(const QJsonValue& json);

    // The stored list: compact JSON of an array of favourites, in list order.
    static QByteArray encodeList(const QList<FavoriteItem>& items);
    // Nothing when the data is not a JSON array. Otherwise every readable favourite, in order;
    // an unreadable one is logged and left out.
    static std::optional<QList<FavoriteItem>> decodeList(const QByteArray& json);

    bool operator==(const FavoriteItem&) const = default;
};

size_t qHash(const FavoriteItem& item, size_t seed = 0);
