#include "sidebar/SidebarViewController.h"

#include "services/FolderWatcher.h"
#include "device/AFCBridge.h"
#include "device/DeviceManager.h"
#include "platform/Logger.h"
#include "platform/UiTimerSource.h"
#include "services/FavoritesManager.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "sidebar/SidebarControllerShared.h"
#include "sidebar/SidebarItemDelegate.h"
#include "sidebar/SidebarModel.h"
#include "sidebar/SidebarRowPositions.h"
#include "uikit/ItemViewFocus.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

using namespace SidebarNames;

namespace {

bool isCameraFolderName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{3}APPLE$"));
    return pattern.match(name).hasMatch();
}

} // namespace

SidebarViewController::SidebarViewController(DeviceManager& deviceManager, NavigationState& navigationState,
                                             FavoritesManager& favoritesManager,
                                             FileSystemProvider& fileSystemProvider, UiTimerSource& timers,
                                             QWidget* parent)
    : QWidget(parent), m_deviceManager(deviceManager), m_navigationState(navigationState),
      m_favoritesManager(favoritesManager), m_fileSystemProvider(fileSystemProvider), m_timers(timers) {
    m_model = new SidebarModel(this);
    m_model->tooltipProvider = [this](const SidebarItem& item) {
        const std::optional<URL> url = item.url();
        return url ? deviceTitle(*url).value_or(QString()) : QString();
    };
    m_model->canListApps = [](const SidebarItem& item) {
        return item.appsListing() == SidebarItem::AppsListing::idle;
    };
    m_model->listApps = [this](std::shared_ptr<SidebarItem> item) {
        handleItemWillExpand(item);
    };

    m_outlineView = new SidebarOutlineView(this);
    m_rowPositions = std::make_unique<SidebarRowPositions>(m_outlineView);
    m_outlineView->setObjectName(QStringLiteral("sidebarOutline"));
    m_outlineView->setHeaderHidden(true);
    m_outlineView->setIndentation(14);
    m_outlineView->setRootIsDecorated(true);
    m_outlineView->setUniformRowHeights(false);
    m_outlineView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_outlineView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_outlineView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_outlineView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_outlineView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_outlineView->setIconSize(QSize(SidebarModel::iconSize, SidebarModel::iconSize));
    m_outlineView->setFrameShape(QFrame::NoFrame);
    m_outlineView->setContextMenuPolicy(Qt::CustomContextMenu);
    // Clicked or reached with Tab. Keys typed into a fresh window still belong to the browser,
    // which takes the keyboard as its columns come, so that typing a name never picks a sidebar
    // row and navigates away.
    m_outlineView->setFocusPolicy(Qt::StrongFocus);
    ItemViewFocus::install(m_outlineView);
    m_outlineView->setItemDelegate(new SidebarItemDelegate(m_outlineView));
    // A right press only asks for the row's menu: selecting the row would navigate there and
    // rebuild RECENT under the open menu.
    m_outlineView->viewport()->installEventFilter(this);
    m_outlineView->setModel(m_model);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_outlineView);

    connect(m_outlineView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { handleSelection(); });
    connect(m_outlineView, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (std::exchange(m_pressedSelectedRow, false) && !openRowKeysStoppedOn())
            handleClickOnSelectedRow(index);
    });
    m_outlineView->onOpenSelectedRow = [this] {
        if (openRowKeysStoppedOn())
            return;
        const QModelIndexList selected = m_outlineView->selectionModel()->selectedRows();
        if (!selected.isEmpty())
            handleClickOnSelectedRow(selected.first());
    };
    connect(m_outlineView, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        if (auto item = m_model->itemAt(index))
            handleItemWillExpand(item);
    });
    connect(m_outlineView, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        // Closing a row that could not be listed lets the next opening try again.
        auto item = m_model->itemAt(index);
        if (item && item->appsListing() == SidebarItem::AppsListing::tried)
            item->setAppsListing(SidebarItem::AppsListing::idle);
    });
    connect(m_outlineView, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        if (QMenu* menu = makeContextMenu(m_outlineView->indexAt(position))) {
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(m_outlineView->viewport()->mapToGlobal(position));
        }
    });

    // Places come and go while the window is open: a folder removed would otherwise stay a row
    // that only answers "Could not list".
    m_placesWatcher = new FolderWatcher(m_timers, this);
    m_placesWatcher->onChange = [this](const QList<URL>&) {
        refreshPlaces();
    };

    reloadAll();
    setupBindings();
}

SidebarViewController::~SidebarViewController() {
    for (const auto& task : m_tasks)
        task.cancel();
}

bool SidebarViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_outlineView->viewport()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::RightButton)
                return true;
            // Seen before the view acts on the press: afterwards every clicked row is selected.
            if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
                const QModelIndex index = m_outlineView->indexAt(mouse->position().toPoint());
                m_pressedSelectedRow = index.isValid() && m_outlineView->selectionModel()->isRowSelected(
                                                              index.row(), index.parent());
            }
            break;
        }
        case QEvent::Paint:
            // A paint follows every change of the rows' layout, with that layout in place. Only
            // a debug log reads the positions: nobody else pays for them on every paint.
            if (Logger::ui().loggingCategory().isDebugEnabled())
                m_rowPositions->report();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

const std::vector<std::shared_ptr<SidebarItem>>& SidebarViewController::rootItems() const {
    return m_model->rootItems();
}

QList<async::TaskHandle<void>> SidebarViewController::runningTasks() const {
    QList<async::TaskHandle<void>> running;
    for (const auto& task : m_tasks) {
        if (!task.isFinished())
            running.append(task);
    }
    return running;
}

void SidebarViewController::track(async::TaskHandle<void> handle) {
    m_tasks.erase(
        std::remove_if(m_tasks.begin(), m_tasks.end(), [](const auto& task) { return task.isFinished(); }),
        m_tasks.end());
    m_tasks.append(std::move(handle));
}

QString SidebarViewController::rowKey(const QModelIndex& index) const {
    QStringList titles;
    for (QModelIndex row = index; row.isValid(); row = row.parent())
        titles.prepend(row.data(Qt::DisplayRole).toString());
    const std::shared_ptr<SidebarItem> item = m_model->itemAt(index);
    const std::optional<URL> url = item ? item->url() : std::nullopt;
    return titles.join(u'/') + u'\n' + (url ? url->absoluteString() : QString());
}

QModelIndex SidebarViewController::rowWithKey(const QString& key) const {
    std::function<QModelIndex(const QModelIndex&)> search = [&](const QModelIndex& parent) {
        for (int row = 0; row < m_model->rowCount(parent); ++row) {
            const QModelIndex index = m_model->index(row, 0, parent);
            if (rowKey(index) == key)
                return index;
            if (const QModelIndex below = search(index); below.isValid())
                return below;
        }
        return QModelIndex();
    };
    return search(QModelIndex());
}

void SidebarViewController::showSelected(const QModelIndex& index) {
    QItemSelectionModel* selection = m_outlineView->selectionModel();
    ++m_rebuilding;
    if (index.isValid()) {
        if (!selection->isSelected(index) || selection->selectedRows().size() != 1)
            selection->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    } else {
        selection->clearSelection();
    }
    --m_rebuilding;
}

void SidebarViewController::selectShownRow() {
    // The keys stay where they stopped until that row opens, whatever was built again meanwhile,
    // unless something else has shown another folder since.
    if (m_keyStopRowKey) {
        const QModelIndex stop = rowWithKey(*m_keyStopRowKey);
        if (stop.isValid() && m_navigationState.currentPath.value() == m_keyStopShown) {
            showSelected(stop);
            return;
        }
        dropKeyStop();
    }
    const std::optional<URL> current = m_navigationState.currentPath.value();
    // The row clicked last, while it shows the folder (Photos also the camera folder it stepped
    // into); else the first row of that folder, one of RECENT only when no other section has it;
    // else none.
    QModelIndex chosen;
    QModelIndex chosenAbove;
    QModelIndex first;
    QModelIndex firstRecent;
    std::function<void(const QModelIndex&)> visit = [&](const QModelIndex& parent) {
        for (int row = 0; row < m_model->rowCount(parent) && !chosen.isValid(); ++row) {
            const QModelIndex index = m_model->index(row, 0, parent);
            QModelIndex section = index;
            while (section.parent().isValid())
                section = section.parent();
            QModelIndex& firstOfSection = section.data().toString() == recentHeader ? firstRecent : first;
            const std::shared_ptr<SidebarItem> item = m_model->itemAt(index);
            const std::optional<URL> url = item ? item->url() : std::nullopt;
            if (current && url && (m_model->flags(index) & Qt::ItemIsSelectable)) {
                const bool shows = url->isSameLocation(*current);
                if (m_chosenRowKey && rowKey(index) == *m_chosenRowKey) {
                    if (shows)
                        chosen = index;
                    else if (item->kind() == SidebarItem::Kind::deviceBookmark && item->title() == photosTitle &&
                             current->isBelow(*url))
                        chosenAbove = index;
                }
                if (shows && !firstOfSection.isValid())
                    firstOfSection = index;
            }
            visit(index);
        }
    };
    visit(QModelIndex());
    const QModelIndex target = chosen.isValid()        ? chosen
                               : chosenAbove.isValid() ? chosenAbove
                               : first.isValid()       ? first
                                                       : firstRecent;
    showSelected(target);
}

void SidebarViewController::handleSelection() {
    if (m_rebuilding > 0)
        return;
    const QModelIndexList selected = m_outlineView->selectionModel()->selectedRows();
    if (m_outlineView->isMovingByKey() && !selected.isEmpty()) {
        // Rows passed over are not opened: each would be a step of the history and a RECENT
        // row. The row the keys rest on opens.
        m_keyStopRowKey = rowKey(selected.first());
        m_keyStopShown = m_navigationState.currentPath.value();
        m_keyPauseTimer = m_timers.singleShot(keyPause, [this] { openRowKeysStoppedOn(true); });
        return;
    }
    dropKeyStop();
    if (selected.isEmpty())
        return;
    openRow(selected.first());
}

void SidebarViewController::dropKeyStop() {
    m_keyStopRowKey.reset();
    m_keyStopShown.reset();
    m_keyPauseTimer.cancel();
}

bool SidebarViewController::openRowKeysStoppedOn(bool afterPause) {
    const std::optional<QString> key = m_keyStopRowKey;
    // Only the pause gives way to a navigation made since the keys moved: Return and a click
    // are the user's word for this row.
    const bool open = !afterPause || m_navigationState.currentPath.value() == m_keyStopShown;
    dropKeyStop();
    if (!key)
        return false;
    if (const QModelIndex index = rowWithKey(*key); index.isValid() && open)
        openRow(index);
    return true;
}

void SidebarViewController::handleClickOnSelectedRow(const QModelIndex& index) {
    if (m_rebuilding > 0 || !m_outlineView->selectionModel()->isRowSelected(index.row(), index.parent()))
        return;
    // The browser shows the folder navigation put it on: there is nowhere to go back to. Columns
    // opened deeper (or a view that took over a deeper folder) go back to the row's place, as
    // the first click did.
    const std::optional<URL>& current = m_navigationState.currentPath.value();
    const QList<URL>& shown = m_navigationState.columnPaths.value();
    if (!current || shown.isEmpty() || shown.last().isSameLocation(*current))
        return;
    openRow(index);
}

void SidebarViewController::openRow(const QModelIndex& index) {
    const std::shared_ptr<SidebarItem> item = m_model->itemAt(index);
    if (!item)
        return;
    const std::optional<URL> url = item->url();
    if (!url)
        return;
    m_chosenRowKey = rowKey(index);
    m_navigationState.navigate(*url);
    if (item->kind() == SidebarItem::Kind::deviceBookmark && item->title() == photosTitle &&
        url->scheme() == afcScheme)
        navigateIntoNewestPhotosFolder(*url);
}

void SidebarViewController::navigateIntoNewestPhotosFolder(const URL& dcim) {
    FileSystemProvider* provider = &m_fileSystemProvider;
    NavigationState* navigation = &m_navigationState;
    track(async::spawn(
        [self = QPointer(this), provider, navigation, dcim](std::stop_token) -> async::Task<void> {
            QList<FileItem> items;
            std::optional<QString> failure;
            try {
                items = co_await provider->listDirectory(dcim);
            } catch (const std::exception& error) {
                failure = describe(error);
            }
            if (!self)
                co_return;
            if (failure) {
                Logger::ui().error("Failed to auto-navigate Photos: %s", *failure);
                co_return;
            }
            // A slow listing must not pull the user back from wherever they went meanwhile.
            const std::optional<URL> current = navigation->currentPath.value();
            if (!current || !current->isSameLocation(dcim))
                co_return;
            QList<FileItem> cameraFolders;
            for (const FileItem& item : items) {
                if (item.isDirectory() && isCameraFolderName(item.name()))
                    cameraFolders.append(item);
            }
            if (cameraFolders.isEmpty())
                co_return;
            const auto newest =
                std::max_element(cameraFolders.begin(), cameraFolders.end(),
                                 [](const FileItem& a, const FileItem& b) { return a.name() < b.name(); });
            navigation->navigate(newest->path());
        }));
}

void SidebarViewController::handleItemWillExpand(const std::shared_ptr<SidebarItem>& item) {
    if (!item || item->kind() != SidebarItem::Kind::appsFolder)
        return;
    if (!item->children().empty() || item->appsListing() != SidebarItem::AppsListing::idle)
        return;
    listAppsIntoFolder(item);
}

void SidebarViewController::listAppsIntoFolder(std::shared_ptr<SidebarItem> folder) {
    folder->setAppsListing(SidebarItem::AppsListing::running);
    std::shared_ptr<AFCBridge> bridge = m_deviceManager.afcBridge();
    track(async::spawn([self = QPointer(this), bridge, folder](std::stop_token) -> async::Task<void> {
        QList<AppInfo> apps;
        std::optional<QString> failure;
        try {
            apps = co_await bridge->listApps(folder->udid());
        } catch (const std::exception& error) {
            failure = describe(error);
        }
        folder->setAppsListing(SidebarItem::AppsListing::tried);
        if (!self)
            co_return;
        if (failure) {
            Logger::ui().error("Failed to list apps: %s", *failure);
            co_return;
        }
        self->applyApps(folder, apps);
    }));
}

void SidebarViewController::applyApps(const std::shared_ptr<SidebarItem>& folder,
                                      const QList<AppInfo>& apps) {
    std::vector<std::shared_ptr<SidebarItem>> rows;
    for (const AppInfo& app : apps)
        rows.push_back(SidebarItem::appItem(app, folder->udid()));
    RebuildGuard guard(*this);
    m_model->replaceChildren(folder.get(), std::move(rows));
    const QModelIndex index = m_model->indexFor(folder.get());
    if (index.isValid())
        m_outlineView->expand(index);
}

void SidebarViewController::addToFavorites(QAction* sender) {
    if (sender)
        addSelectedToFavorites(sender->data());
}

void SidebarViewController::removeFromFavorites(QAction* sender) {
    if (sender)
        removeSelectedFromFavorites(sender->data());
}

void SidebarViewController::addSelectedToFavorites(const QVariant& represented) {
    const QVariantList pair = represented.toList();
    if (represented.typeId() != QMetaType::QVariantList || pair.size() != 2 ||
        pair[0].typeId() != QMetaType::QString || pair[1].typeId() != QMetaType::QString)
        return;
    const std::optional<URL> url = URL::fromString(pair[1].toString());
    if (!url)
        return;
    m_favoritesManager.add(pair[0].toString(), *url, QStringLiteral("folder.fill"));
}

void SidebarViewController::removeSelectedFromFavorites(const QVariant& represented) {
    if (represented.typeId() != QMetaType::QUuid)
        return;
    const QUuid id = represented.toUuid();
    QList<FavoriteItem> favorites = m_favoritesManager.favorites.value();
    favorites.removeIf([&id](const FavoriteItem& favorite) { return favorite.id == id; });
    m_favoritesManager.favorites = favorites;
    m_favoritesManager.save();
}

QMenu* SidebarViewController::makeContextMenu(const QModelIndex& index) {
    const std::shared_ptr<SidebarItem> item = m_model->itemAt(index);
    if (!item)
        return nullptr;
    const std::optional<URL> url = item->url();
    QAction* action = nullptr;
    auto* menu = new QMenu(this);
    if (item->kind() == SidebarItem::Kind::favorite) {
        // "No devices" looks like a favourite but stands for none.
        if (item->favoriteId()) {
            action = menu->addAction(QStringLiteral("Remove from Sidebar"));
            action->setData(QVariant::fromValue(*item->favoriteId()));
            connect(action, &QAction::triggered, this, [this, action] { removeFromFavorites(action); });
        }
    } else if (url && item->kind() != SidebarItem::Kind::header) {
        action = menu->addAction(QStringLiteral("Add to Sidebar"));
        action->setData(QVariantList{item->title(), url->absoluteString()});
        connect(action, &QAction::triggered, this, [this, action] { addToFavorites(action); });
    }
    if (!action) {
        delete menu;
        return nullptr;
    }
    return menu;
}
