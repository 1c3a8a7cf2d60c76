#pragma once

#include "platform/Subscription.h"
#include "platform/URL.h"
#include "platform/async/TaskHandle.h"
#include "services/FolderLooks.h"
#include "sidebar/SidebarItem.h"
#include "sidebar/SidebarOutlineView.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class DeviceManager;
class FavoritesManager;
class FileSystemProvider;
class FolderWatcher;
class NavigationState;
class QAction;
class QMenu;
class SidebarModel;
class SidebarRowPositions;
class UiTimerSource;

// The left-hand list of the main window: the computer's usual folders, the recent folders, the
// favourites and the attached devices with their Photos, Recordings and Apps. Each section is
// rebuilt when what it shows changes. Only a click of the user navigates: rebuilds and other
// navigation only select the row of the folder shown (the one clicked last while it shows it),
// so a click on that row goes nowhere again, unless the browser has gone deeper than that
// folder: then it shows the folder again. The keys only move over the rows: the row they stop on
// opens after a short pause, or at once on Return or a click.
class SidebarViewController : public QWidget {
    Q_OBJECT
public:
    static constexpr QLatin1StringView tavoletBundleIDs[] = {QLatin1StringView("io.halvorn.Tavolet"),
                                                             QLatin1StringView("io.halvorn.tavolet")};
    // How long the keys rest on a row before it opens.
    static constexpr std::chrono::milliseconds keyPause{400};

    // The services and the timer source must outlive the controller.
    SidebarViewController(DeviceManager& deviceManager, NavigationState& navigationState,
                          FavoritesManager& favoritesManager, FileSystemProvider& fileSystemProvider,
                          UiTimerSource& timers, QWidget* parent = nullptr);
    ~SidebarViewController() override;

    QTreeView* outlineView() const { return m_outlineView; }
    const FolderWatcher& placesWatcher() const { return *m_placesWatcher; }
    SidebarModel& model() const { return *m_model; }
    const std::vector<std::shared_ptr<SidebarItem>>& rootItems() const;

    void reloadAll();
    std::optional<int> sectionIndex(const QString& title) const;
    QSet<QString> locationURLStrings() const;
    void refreshRecentSection();
    // RECENT as rows already built (each looked at on the disk once).
    void showRecentRows(std::vector<std::shared_ptr<SidebarItem>> rows);
    void refreshFavoritesSection();
    void refreshDevicesSection();
    // LOCATIONS and the look of RECENT again, after a change on disk: only places that are there,
    // recent computer folders that are gone shown grey. The folders are looked at on another
    // thread; the rows change when the answer does.
    void refreshPlaces();
    void addRecordingsItem(const QString& udid, const QString& bundleID);

    QString displayName(const URL& url) const;
    // The connected device's name (its model when it has none), else the one it had when last
    // connected in this run; nothing for a device never seen.
    std::optional<QString> deviceName(const std::optional<QString>& udid) const;
    std::optional<QString> deviceTitle(const URL& url) const;

    // What a click on the row does.
    void handleSelection();
    // A click on the row already selected: its place again, if the browser went deeper than it.
    void handleClickOnSelectedRow(const QModelIndex& index);
    // Selects the row of the folder shown, or none, without navigating.
    void selectShownRow();
    // An Apps row is about to open: its apps are listed while it is empty and not listed yet.
    void handleItemWillExpand(const std::shared_ptr<SidebarItem>& item);

    // The two favourites actions; the sender's data is the row's (name, URL text) pair, or the
    // favourite's id.
    void addToFavorites(QAction* sender);
    void removeFromFavorites(QAction* sender);
    void addSelectedToFavorites(const QVariant& represented);
    void removeSelectedFromFavorites(const QVariant& represented);
    // The right-click menu of a row; nothing for rows that have neither action.
    QMenu* makeContextMenu(const QModelIndex& index);

    // Per device: the recording app's bundle id, or none after a failed check.
    const QHash<QString, std::optional<QString>>& tavoletCache() const { return m_tavoletCache; }
    // The checks, Photos and Apps tasks started so far that have not ended (tests await them).
    QList<async::TaskHandle<void>> runningTasks() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Whether the folder was there when last looked at; true when it was never looked at.
    bool lastLook(const QString& path) const;
    std::vector<std::shared_ptr<SidebarItem>> placeRows() const;
    // Looks again at the places and the recent computer folders, away from the window's thread.
    void lookAtFolders();
    // LOCATIONS and RECENT again, where the answer changed what they show.
    void showLooks(const FolderLooks::Answers& answers);
    std::vector<std::shared_ptr<SidebarItem>> favoriteRows(const QSet<QString>& connectedUDIDs) const;
    std::vector<std::shared_ptr<SidebarItem>> recentRows() const;
    std::vector<std::shared_ptr<SidebarItem>> deviceRows() const;
    std::shared_ptr<SidebarItem> makeDeviceRow(const iOSDevice& device) const;
    QSet<QString> connectedUDIDs() const;
    void setupBindings();
    // Watches the folders whose changes can make a place or a recent folder come or go: the home
    // folder and the parents of the places and of the recent computer folders.
    void watchPlaces();
    void tavoletStep();
    void checkTavolet(const QString& udid);
    void navigateIntoNewestPhotosFolder(const URL& dcim);
    void listAppsIntoFolder(std::shared_ptr<SidebarItem> folder);
    void applyApps(const std::shared_ptr<SidebarItem>& folder, const QList<AppInfo>& apps);
    void expandItem(const SidebarItem* item);
    void track(async::TaskHandle<void> handle);
    QString rowKey(const QModelIndex& index) const;
    QModelIndex rowWithKey(const QString& key) const;
    void openRow(const QModelIndex& index);
    // Opens the row the keys stopped on now, if they stopped on one that has not opened yet;
    // whether they had.
    bool openRowKeysStoppedOn(bool afterPause = false);
    // Selects the row as the keyboard's, without navigating.
    void showSelected(const QModelIndex& index);
    void dropKeyStop();

    // Model changes must never look like a user's choice.
    class RebuildGuard;

    DeviceManager& m_deviceManager;
    NavigationState& m_navigationState;
    FavoritesManager& m_favoritesManager;
    FileSystemProvider& m_fileSystemProvider;
    UiTimerSource& m_timers;
    std::vector<Subscription> m_cancellables;
    SidebarModel* m_model = nullptr;
    SidebarOutlineView* m_outlineView = nullptr;
    QHash<QString, std::optional<QString>> m_tavoletCache;
    // The names of the devices connected so far in this run, by UDID.
    QHash<QString, QString> m_knownDeviceNames;
    QList<async::TaskHandle<void>> m_tasks;
    int m_rebuilding = 0;
    // The row clicked last: its titles from the section down, and its location.
    std::optional<QString> m_chosenRowKey;
    // The left button went down on the row already selected: its click selects nothing new.
    bool m_pressedSelectedRow = false;
    // The row the keys moved to, by its key, until it opens; the folder shown when they moved
    // there (a navigation from elsewhere since then drops the row); and the pause that opens it.
    std::optional<QString> m_keyStopRowKey;
    std::optional<URL> m_keyStopShown;
    Subscription m_keyPauseTimer;
    std::unique_ptr<SidebarRowPositions> m_rowPositions;
    FolderWatcher* m_placesWatcher = nullptr;
    std::unique_ptr<FolderLooks> m_looks = std::make_unique<FolderLooks>();
    // What the looks last said, by folder path.
    QHash<QString, bool> m_foldersThere;
};
