// The stored favourites: a JSON array of folders kept under one key of the settings, read entry
// by entry through the favourites manager, as the sidebar loads them.

#include "FuzzSupport.h"
#include "device/AFCComponents.h"
#include "platform/UserDefaults.h"
#include "services/FavoritesManager.h"

#include <chrono>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A store that never writes: it lives in memory for the whole run (nothing is ever saved to the
    // folder, which does not exist) and is left to the end of the process.
    static UserDefaults& defaults =
        *new UserDefaults(QStringLiteral("/nonexistent/orvanta-fuzz/defaults.plist"), std::chrono::hours(24));
    const QByteArray json = fuzzBytes(data, size);
    defaults.set(QString(FavoritesManager::defaultKey), json);

    const FavoritesManager manager(QString(FavoritesManager::defaultKey), defaults);
    const QList<FavoriteItem>& favorites = manager.favorites.value();
    fuzzCheck(favorites == FavoriteItem::decodeList(json).value_or(QList<FavoriteItem>()),
              "the manager loads what the list decodes to");
    for (const FavoriteItem& favorite : favorites) {
        (void)qHash(favorite);
        // The sidebar opens a favourite through its location.
        if (const std::optional<URL> url = URL::fromString(favorite.urlString))
            (void)afcComponents(*url);
    }
    fuzzCheck(FavoriteItem::decodeList(FavoriteItem::encodeList(favorites)) == favorites,
              "stored favourites encode and decode to equal entries");
    return 0;
}
