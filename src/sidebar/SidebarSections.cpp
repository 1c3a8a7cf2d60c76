// The sidebar's sections: which rows each holds and how each is built again when what it shows
// changes; the Recordings row of a device with the recording app; the titles of recent folders
// and of device folders.

#include "sidebar/SidebarViewController.h"

#include "device/AFCBridge.h"
#include "device/DeviceManager.h"
#include "platform/Logger.h"
#include "platform/ObservableOperators.h"
#include "platform/UserFolders.h"
#include "services/FavoritesManager.h"
#include "services/FolderLooks.h"
#include "services/FolderWatcher.h"
#include "services/NavigationState.h"
#include "sidebar/SidebarControllerShared.h"
#include "sidebar/SidebarModel.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTreeView>

#include <algorithm>

using namespace SidebarNames;

namespace {

QStringList pathComponents(const URL& url) {
    return url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

URL folderURL(const QString& path) {
    return URL::fileURL(path, true);
}

const std::pair<QString, QStandardPaths::StandardLocation> places[] = {
    {QStringLiteral("Desktop"), QStandardPaths::DesktopLocation},
    {QStringLiteral("Documents"), QStandardPaths::DocumentsLocation},
    {QStringLiteral("Downloads"), QStandardPaths::DownloadLocation},
};

// The path of a computer folder, as the looks at the disk know it.
QString folderPath(const URL& url) {
    return QDir::cleanPath(url.toLocalFile());
}

// The folder that holds a computer folder: its changes say when the folder comes or goes.
std::optional<URL> parentFolder(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    const QString parent = QFileInfo(QDir::cleanPath(path)).absolutePath();
    return URL::fileURL(parent, true);
}

// Whether two lists of rows look the same: the same titles, places and dimming, in order.
bool sameRows(const std::vector<std::shared_ptr<SidebarItem>>& shown,
              const std::vector<std::shared_ptr<SidebarItem>>& built) {
    const auto same = [](const auto& a, const auto& b) {
        return a->kind() == b->kind() && a->title() == b->title() && a->url() == b->url() &&
               a->isAvailable() == b->isAvailable();
    };
    return std::equal(shown.begin(), shown.end(), built.begin(), built.end(), same);
}

// A favourite is out of reach while it lies on a device that is not attached.
bool isReachable(const URL& url, const QSet<QString>& connectedUDIDs) {
    if (url.scheme() != afcScheme)
        return true;
    return url.hasHost() && connectedUDIDs.contains(url.host());
}

} // namespace

bool SidebarViewController::lastLook(const QString& path) const {
    // A folder not looked at yet is taken to be there: nearly every one is.
    return m_foldersThere.value(path, true);
}

// The computer's places that are there, as last looked at: the home folder, then the desktop,
// documents and downloads folders.
std::vector<std::shared_ptr<SidebarItem>> SidebarViewController::placeRows() const {
    std::vector<std::shared_ptr<SidebarItem>> rows;
    if (const QString home = UserFolders::homePath(); !home.isEmpty() && lastLook(home))
        rows.push_back(SidebarItem::deviceBookmark(QStringLiteral("Home"), URL::fileURL(home, true)));
    for (const auto& [title, location] : places) {
        if (const std::optional<QString> path = UserFolders::placePath(location); path && lastLook(*path))
            rows.push_back(SidebarItem::deviceBookmark(title, URL::fileURL(*path, true)));
    }
    return rows;
}

QSet<QString> SidebarViewController::connectedUDIDs() const {
    QSet<QString> udids;
    for (const iOSDevice& device : m_deviceManager.connectedDevices.value())
        udids.insert(device.udid());
    return udids;
}

void SidebarViewController::reloadAll() {
    RebuildGuard guard(*this);
    std::vector<std::shared_ptr<SidebarItem>> roots;

    auto locations = SidebarItem::header(locationsHeader);
    locations->setChildren(placeRows());
    roots.push_back(locations);
    // The recent rows are measured against the LOCATIONS rows, so those go in first.
    m_model->setRootItems(roots);

    if (auto rows = recentRows(); !rows.empty()) {
        auto recent = SidebarItem::header(recentHeader);
        recent->setChildren(std::move(rows));
        roots.push_back(recent);
    }
    if (!m_favoritesManager.favorites.value().isEmpty()) {
        auto favorites = SidebarItem::header(favoritesHeader);
        favorites->setChildren(favoriteRows(connectedUDIDs()));
        roots.push_back(favorites);
    }
    auto devices = SidebarItem::header(devicesHeader);
    devices->setChildren(deviceRows());
    roots.push_back(devices);

    m_model->setRootItems(std::move(roots));
    m_outlineView->expandAll();
    watchPlaces();
    lookAtFolders();
    tavoletStep();
}

std::optional<int> SidebarViewController::sectionIndex(const QString& title) const {
    const auto& roots = rootItems();
    for (size_t i = 0; i < roots.size(); ++i) {
        if (roots[i]->kind() == SidebarItem::Kind::header && roots[i]->title() == title)
            return int(i);
    }
    return std::nullopt;
}

QSet<QString> SidebarViewController::locationURLStrings() const {
    QSet<QString> strings;
    const std::optional<int> index = sectionIndex(locationsHeader);
    if (!index)
        return strings;
    for (const auto& row : rootItems()[size_t(*index)]->children()) {
        if (const std::optional<URL> url = row->url())
            strings.insert(url->absoluteString());
    }
    return strings;
}

std::vector<std::shared_ptr<SidebarItem>> SidebarViewController::recentRows() const {
    QList<URL> locations;
    for (const QString& text : locationURLStrings()) {
        if (const std::optional<URL> url = URL::fromString(text))
            locations.append(*url);
    }
    std::vector<std::shared_ptr<SidebarItem>> rows;
    for (const URL& url : m_navigationState.recentPaths.value()) {
        // By location, not by text: Downloads visited as ".../Downloads" is still the LOCATIONS row.
        const bool isLocation = std::any_of(locations.begin(), locations.end(),
                                            [&url](const URL& l) { return l.isSameLocation(url); });
        if (isLocation)
            continue;
        auto row = SidebarItem::deviceBookmark(displayName(url), url);
        // A computer folder that is gone keeps its row, grey, as a favourite out of reach does.
        if (url.isFileURL())
            row->setAvailable(lastLook(folderPath(url)));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::shared_ptr<SidebarItem>>
SidebarViewController::favoriteRows(const QSet<QString>& connectedUDIDs) const {
    std::vector<std::shared_ptr<SidebarItem>> rows;
    for (const FavoriteItem& favorite : m_favoritesManager.favorites.value()) {
        const std::optional<URL> url = URL::fromString(favorite.urlString);
        if (!url)
            continue;
        auto row = SidebarItem::favorite(favorite.name, *url, favorite.id);
        row->setAvailable(isReachable(*url, connectedUDIDs));
        rows.push_back(row);
    }
    return rows;
}

std::shared_ptr<SidebarItem> SidebarViewController::makeDeviceRow(const iOSDevice& device) const {
    std::vector<std::shared_ptr<SidebarItem>> children;
    if (!device.udid().isEmpty()) {
        children.push_back(SidebarItem::deviceBookmark(
            photosTitle, URL::fromComponents(afcScheme, device.udid(), QStringLiteral("/DCIM")),
            SidebarItem::Symbol{QStringLiteral("photo.on.rectangle"), photosTitle}));
    }
    children.push_back(SidebarItem::appsFolder(device.udid()));
    auto row = SidebarItem::device(device);
    row->setChildren(std::move(children));
    return row;
}

std::vector<std::shared_ptr<SidebarItem>> SidebarViewController::deviceRows() const {
    std::vector<std::shared_ptr<SidebarItem>> rows;
    for (const iOSDevice& device : m_deviceManager.connectedDevices.value())
        rows.push_back(makeDeviceRow(device));
    if (rows.empty())
        rows.push_back(SidebarItem::favorite(QStringLiteral("No devices"), folderURL(QStringLiteral("/"))));
    return rows;
}

void SidebarViewController::expandItem(const SidebarItem* item) {
    const QModelIndex index = m_model->indexFor(item);
    if (index.isValid())
        m_outlineView->expandRecursively(index);
}

void SidebarViewController::refreshRecentSection() {
    showRecentRows(recentRows());
    lookAtFolders();
}

void SidebarViewController::showRecentRows(std::vector<std::shared_ptr<SidebarItem>> rows) {
    watchPlaces();
    const std::optional<int> index = sectionIndex(recentHeader);
    RebuildGuard guard(*this);
    if (!index) {
        if (rows.empty())
            return;
        auto header = SidebarItem::header(recentHeader);
        header->setChildren(std::move(rows));
        m_model->insertRootItem(1, header);
        expandItem(header.get());
        return;
    }
    if (rows.empty()) {
        m_model->removeRootItem(*index);
        return;
    }
    auto header = rootItems()[size_t(*index)];
    m_model->replaceChildren(header.get(), std::move(rows));
    expandItem(header.get());
}

void SidebarViewController::refreshPlaces() {
    watchPlaces();
    lookAtFolders();
}

void SidebarViewController::lookAtFolders() {
    QStringList paths;
    if (const QString home = UserFolders::homePath(); !home.isEmpty())
        paths.append(home);
    for (const auto& place : places) {
        if (const std::optional<QString> path = UserFolders::placePath(place.second))
            paths.append(*path);
    }
    for (const URL& url : m_navigationState.recentPaths.value()) {
        if (url.isFileURL())
            paths.append(folderPath(url));
    }
    // The rows show what was last seen until the answer comes: a folder on a share that stopped
    // answering keeps its look meanwhile, and the window goes on.
    async::Task<FolderLooks::Answers> looking = m_looks->look(paths);
    track(async::spawn(
        [self = QPointer(this), looking = std::move(looking)](std::stop_token) mutable -> async::Task<void> {
            const FolderLooks::Answers answers = co_await std::move(looking);
            if (self)
                self->showLooks(answers);
        }));
}

void SidebarViewController::showLooks(const FolderLooks::Answers& answers) {
    bool changed = false;
    for (auto answer = answers.begin(); answer != answers.end(); ++answer) {
        changed = changed || lastLook(answer.key()) != answer.value();
        m_foldersThere.insert(answer.key(), answer.value());
    }
    if (!changed)
        return;
    if (const std::optional<int> index = sectionIndex(locationsHeader)) {
        const auto header = rootItems()[size_t(*index)];
        auto rows = placeRows();
        if (!sameRows(header->children(), rows)) {
            Logger::ui().debug("Sidebar: the places changed on disk");
            RebuildGuard guard(*this);
            m_model->replaceChildren(header.get(), std::move(rows));
            expandItem(header.get());
        }
    }
    // RECENT leaves out the places, and greys the folders that are gone: built again only when
    // that changed.
    const std::optional<int> recent = sectionIndex(recentHeader);
    auto rows = recentRows();
    if (recent ? !sameRows(rootItems()[size_t(*recent)]->children(), rows) : !rows.empty())
        showRecentRows(std::move(rows));
}

void SidebarViewController::watchPlaces() {
    QList<URL> folders;
    if (const QString home = UserFolders::homePath(); !home.isEmpty())
        folders.append(URL::fileURL(home, true));
    for (const auto& place : places) {
        if (auto parent = parentFolder(QStandardPaths::writableLocation(place.second)))
            folders.append(*parent);
    }
    for (const URL& url : m_navigationState.recentPaths.value()) {
        if (!url.isFileURL())
            continue;
        if (auto parent = parentFolder(url.toLocalFile()))
            folders.append(*parent);
    }
    m_placesWatcher->watch(folders);
}

void SidebarViewController::refreshFavoritesSection() {
    std::vector<std::shared_ptr<SidebarItem>> rows;
    if (!m_favoritesManager.favorites.value().isEmpty())
        rows = favoriteRows(connectedUDIDs());
    const bool hasFavorites = !m_favoritesManager.favorites.value().isEmpty();
    const std::optional<int> index = sectionIndex(favoritesHeader);
    RebuildGuard guard(*this);
    if (index) {
        if (!hasFavorites) {
            m_model->removeRootItem(*index);
            return;
        }
        auto header = rootItems()[size_t(*index)];
        m_model->replaceChildren(header.get(), std::move(rows));
        expandItem(header.get());
        return;
    }
    if (!hasFavorites)
        return;
    auto header = SidebarItem::header(favoritesHeader);
    header->setChildren(std::move(rows));
    m_model->insertRootItem(std::max(0, int(rootItems().size()) - 1), header);
    expandItem(header.get());
}

void SidebarViewController::refreshDevicesSection() {
    const std::optional<int> index = sectionIndex(devicesHeader);
    if (!index)
        return;
    {
        RebuildGuard guard(*this);
        auto header = rootItems()[size_t(*index)];
        m_model->replaceChildren(header.get(), deviceRows());
        expandItem(header.get());
    }
    refreshFavoritesSection();
    tavoletStep();
}

void SidebarViewController::tavoletStep() {
    for (const iOSDevice& device : m_deviceManager.connectedDevices.value()) {
        const QString udid = device.udid();
        const auto cached = m_tavoletCache.constFind(udid);
        if (cached == m_tavoletCache.constEnd())
            checkTavolet(udid);
        else if (cached->has_value())
            addRecordingsItem(udid, **cached);
    }
}

void SidebarViewController::checkTavolet(const QString& udid) {
    std::shared_ptr<AFCBridge> bridge = m_deviceManager.afcBridge();
    track(async::spawn([self = QPointer(this), bridge, udid](std::stop_token) -> async::Task<void> {
        QList<AppInfo> apps;
        std::optional<QString> failure;
        try {
            apps = co_await bridge->listApps(udid);
        } catch (const std::exception& error) {
            failure = describe(error);
        }
        if (!self)
            co_return;
        if (failure) {
            Logger::ui().debug("Tavolet check failed for %s: %s", udid, *failure);
            self->m_tavoletCache.insert(udid, std::nullopt);
            co_return;
        }
        for (const AppInfo& app : apps) {
            for (const QLatin1StringView bundleID : tavoletBundleIDs) {
                if (app.bundleID() == bundleID) {
                    self->m_tavoletCache.insert(udid, app.bundleID());
                    self->addRecordingsItem(udid, app.bundleID());
                    co_return;
                }
            }
        }
        self->m_tavoletCache.remove(udid);
    }));
}

void SidebarViewController::addRecordingsItem(const QString& udid, const QString& bundleID) {
    const std::optional<int> index = sectionIndex(devicesHeader);
    if (!index)
        return;
    std::shared_ptr<SidebarItem> deviceRow;
    for (const auto& row : rootItems()[size_t(*index)]->children()) {
        if (row->kind() == SidebarItem::Kind::device && row->udid() == udid) {
            deviceRow = row;
            break;
        }
    }
    if (!deviceRow)
        return;
    for (const auto& child : deviceRow->children()) {
        if (child->kind() == SidebarItem::Kind::deviceBookmark && child->title() == recordingsTitle)
            return;
    }
    if (udid.isEmpty() || bundleID.isEmpty() || bundleID.contains(QLatin1Char('/')))
        return;
    const URL url = URL::fromComponents(
        afcScheme, udid, QStringLiteral("/.app/") + bundleID + QStringLiteral("/Documents/Recordings"));
    auto row = SidebarItem::deviceBookmark(
        recordingsTitle, url, SidebarItem::Symbol{QStringLiteral("video.fill"), recordingsTitle});
    RebuildGuard guard(*this);
    m_model->insertChild(deviceRow.get(), std::min(int(deviceRow->children().size()), 1), row);
    expandItem(deviceRow.get());
    Logger::ui().debug("Sidebar: Recordings of %s added", udid);
}

void SidebarViewController::setupBindings() {
    auto udids = map(m_deviceManager.connectedDevices, [](const QList<iOSDevice>& devices) {
        QSet<QString> set;
        for (const iOSDevice& device : devices)
            set.insert(device.udid());
        return set;
    });
    const QPointer<SidebarViewController> self(this);
    m_cancellables.push_back(removeDuplicates(udids).subscribe(
        [self](const QSet<QString>&) {
            if (self)
                self->refreshDevicesSection();
        },
        Delivery::Queued));
    // RECENT names a device's folders by the device, also while it is away.
    auto names = map(m_deviceManager.connectedDevices, [](const QList<iOSDevice>& devices) {
        QHash<QString, QString> byUDID;
        for (const iOSDevice& device : devices)
            byUDID.insert(device.udid(), device.name().isEmpty() ? device.model() : device.name());
        return byUDID;
    });
    m_cancellables.push_back(removeDuplicates(names).subscribe(
        [self](const QHash<QString, QString>& connected) {
            if (!self)
                return;
            self->m_knownDeviceNames.insert(connected);
            self->refreshRecentSection();
        },
        Delivery::Queued));
    m_cancellables.push_back(m_favoritesManager.favorites.subscribe(
        [self](const QList<FavoriteItem>&) {
            if (self)
                self->refreshFavoritesSection();
        },
        Delivery::Queued));
    m_cancellables.push_back(m_navigationState.recentPaths.subscribe(
        [self](const QList<URL>&) {
            if (self)
                self->refreshRecentSection();
        },
        Delivery::Queued));
    m_cancellables.push_back(m_navigationState.currentPath.subscribe(
        [self](const std::optional<URL>&) {
            if (self)
                self->selectShownRow();
        },
        Delivery::Queued));
}

std::optional<QString> SidebarViewController::deviceName(const std::optional<QString>& udid) const {
    if (!udid)
        return std::nullopt;
    for (const iOSDevice& device : m_deviceManager.connectedDevices.value()) {
        if (device.udid() == *udid)
            return device.name().isEmpty() ? device.model() : device.name();
    }
    if (m_knownDeviceNames.contains(*udid))
        return m_knownDeviceNames.value(*udid);
    return std::nullopt;
}

QString SidebarViewController::displayName(const URL& url) const {
    const QStringList components = pathComponents(url);
    if (url.scheme() == afcScheme) {
        if (components.isEmpty())
            return deviceName(url.host()).value_or(QStringLiteral("Device"));
        const QString tail =
            components.mid(std::max<qsizetype>(0, components.size() - 2)).join(QLatin1Char('/'));
        return components.size() >= 3 ? QStringLiteral("../") + tail : tail;
    }
    // The last named folder: a folder URL ends in "/", which must not leave the title empty.
    if (!components.isEmpty())
        return components.last();
    const QString path = url.path();
    return path.isEmpty() ? url.absoluteString() : path;
}

std::optional<QString> SidebarViewController::deviceTitle(const URL& url) const {
    if (url.scheme() != afcScheme)
        return std::nullopt;
    QString name = deviceName(url.host()).value_or(url.host());
    if (name.isEmpty())
        name = QStringLiteral("Device");
    const QString path = url.path();
    if (!path.isEmpty() && path != QStringLiteral("/"))
        name += path;
    return name;
}
