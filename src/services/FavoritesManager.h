#pragma once

#include "models/FavoriteItem.h"
#include "platform/Observable.h"
#include "platform/URL.h"

#include <QList>
#include <QString>

class UserDefaults;

// The user's favourite folders, shown in the sidebar and kept as JSON under one key of the
// user's defaults. The list is read once, at creation; afterwards it is only written.
//
// There is no removal operation: the sidebar removes entries from `favorites` by id and then
// calls save(). Main thread only.
class FavoritesManager {
public:
    using FavoriteItem = ::FavoriteItem;

    static constexpr QLatin1StringView defaultKey{"OrvantaFavorites"};

    // Loads at once. The store is the app's shared one unless a test hands in its own; it must
    // outlive the manager.
    explicit FavoritesManager(QString defaultsKey = defaultKey);
    FavoritesManager(QString defaultsKey, UserDefaults& defaults);
    FavoritesManager(const FavoritesManager&) = delete;
    FavoritesManager& operator=(const FavoritesManager&) = delete;

    // In the order of addition. Others may assign it (the sidebar's remove command does).
    Observable<QList<FavoriteItem>> favorites;

    const QString& defaultsKey() const { return m_defaultsKey; }

    // Replaces the list with the stored one. A stored value that is no JSON array at all leaves
    // the list as it is; an entry that cannot be read is logged and left out.
    void load();
    // Appends a favourite for the folder unless one has exactly its URL text already, then saves.
    void add(const QString& name, const URL& url, const QString& symbolName);
    // Stores the current list under the key, replacing what was there.
    void save();

private:
    const QString m_defaultsKey;
    UserDefaults& m_defaults;
};
