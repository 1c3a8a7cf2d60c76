#include "browser/BrowserNotices.h"

#include "platform/NotificationCenter.h"
#include "services/NavigationState.h"
#include "transfer/TransferManager.h"

#include <QPointer>

void BrowserNotices::follow(QObject* browser, NavigationState& navigation,
                            std::vector<Subscription>& into) const {
    QPointer<QObject> alive(browser);
    into.push_back(navigation.currentPath.subscribe(
        [alive, onPath = onPath](const std::optional<URL>& path) {
            if (alive && onPath)
                onPath(path);
        },
        Delivery::Queued));
    into.push_back(navigation.searchQuery.subscribe(
        [alive, onSearch = onSearch](const QString&) {
            if (alive && onSearch)
                onSearch();
        },
        Delivery::Queued));
    for (const QString& name : {TransferManager::afcFilesDeleted, TransferManager::afcFilesUploaded}) {
        into.push_back(NotificationCenter::defaultCenter().observe(
            name, [alive, changed = onDeviceFilesChanged](const Notification&) {
                if (alive && changed)
                    changed();
            }));
    }
}
