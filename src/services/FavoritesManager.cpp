#include "services/FavoritesManager.h"

#include "platform/Logger.h"
#include "services/PreferencesViewController.h"

#include <QUuid>

#include <algorithm>

FavoritesManager::FavoritesManager(QString defaultsKey)
    : FavoritesManager(std::move(defaultsKey), PreferencesViewController::defaults()) {}

FavoritesManager::FavoritesManager(QString defaultsKey, UserDefaults& defaults)
    : m_defaultsKey(std::move(defaultsKey)), m_defaults(defaults) {
    load();
}

void FavoritesManager::load() {
    const std::optional<QVariant> stored = m_defaults.object(m_defaultsKey);
    if (!stored)
        return;
    const std::optional<QByteArray> data = m_defaults.dataForKey(m_defaultsKey);
    const auto items = data ? FavoriteItem::decodeList(*data) : std::nullopt;
    if (!items) {
        // It stays stored until the next save replaces it; until then the user sees none.
        Logger::ui().error("Stored favourites under %s are unreadable", m_defaultsKey);
        return;
    }
    favorites = *items;
}

void FavoritesManager::add(const QString& name, const URL& url, const QString& symbolName) {
    const QString urlString = url.absoluteString();
    const QList<FavoriteItem>& current = favorites.value();
    const bool known = std::any_of(current.cbegin(), current.cend(), [&urlString](const FavoriteItem& item) {
        return item.urlString == urlString;
    });
    if (known)
        return;
    QList<FavoriteItem> updated = current;
    updated.append(FavoriteItem{QUuid::createUuid(), name, urlString, symbolName});
    favorites = std::move(updated);
    save();
}

void FavoritesManager::save() {
    m_defaults.set(m_defaultsKey, FavoriteItem::encodeList(favorites.value()));
}
