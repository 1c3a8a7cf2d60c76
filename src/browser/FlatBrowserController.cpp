#include "browser/FlatBrowserController.h"

#include "browser/BrowserKeyHandlers.h"
#include "browser/BrowserNotices.h"
#include "browser/BrowserText.h"
#include "browser/ColumnBrowserViewController.h"
#include "browser/DragAndDropHandler.h"
#include "browser/ErrorPlaceholderView.h"
#include "browser/FileItemListModel.h"
#include "browser/OrvantaDragMimeData.h"
#include "platform/Logger.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "services/FavoritesManager.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"
#include "uikit/Spinner.h"
#include "uikit/Symbols.h"

#include <QAbstractItemView>
#include <QDir>
#include <QGridLayout>
#include <QItemSelectionModel>

namespace {

using Self = QPointer<FlatBrowserController>;

async::Task<void> listFolder(Self self, std::shared_ptr<FileSystemProvider> provider, quint64 generation,
                             URL url, std::stop_token) {
    QList<FileItem> items;
    std::exception_ptr failure;
    try {
        items = co_await provider->listDirectory(url);
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure)
        self->applyListingFailure(generation, url, failure);
    else
        self->applyListing(generation, url, items);
}

} // namespace

// --- set-up ---

FlatBrowserController::FlatBrowserController(std::shared_ptr<FileSystemProvider> fileSystemProvider,
                                             NavigationState& navigationState,
                                             std::shared_ptr<TransferManager> transferManager,
                                             FavoritesManager* favoritesManager,
                                             ClipboardManager* clipboardManager, QWidget* parent)
    : QWidget(parent), m_fileSystemProvider(std::move(fileSystemProvider)),
      m_navigationState(navigationState), m_transferManager(std::move(transferManager)),
      m_favoritesManager(favoritesManager), m_clipboardManager(clipboardManager) {
    if (m_transferManager)
        m_dragHandler = DragAndDropHandler::create(m_transferManager);
}

FlatBrowserController::~FlatBrowserController() {
    m_cancellables.clear();
    for (const auto& task : std::as_const(m_tasks))
        task.cancel();
}

void FlatBrowserController::attachItemView(QAbstractItemView* view, FileItemListModel* model,
                                           BrowserKeyHandlers* keys) {
    m_itemView = view;
    m_model = model;
    // The view, the placeholder and the spinner share one cell: the placeholder lies over the
    // view, the spinner in its centre.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view, 0, 0);
    m_spinner = new Spinner(this);
    layout->addWidget(m_spinner, 0, 0, Qt::AlignCenter);
    view->setModel(model);

    Self self(this);
    const auto command = [self](void (FlatBrowserController::*method)()) {
        return [self, method] {
            if (self)
                (self.data()->*method)();
        };
    };
    keys->onDelete = command(&FlatBrowserController::deleteSelection);
    keys->onRename = command(&FlatBrowserController::renameSelectedItem);
    keys->onCopy = command(&FlatBrowserController::copySelection);
    keys->onCut = command(&FlatBrowserController::cutSelection);
    keys->onPaste = command(&FlatBrowserController::paste);
    keys->onDuplicate = command(&FlatBrowserController::duplicateSelection);
    keys->onQuickLook = [self] {
        if (self && self->onQuickLook)
            self->onQuickLook();
    };
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &FlatBrowserController::syncSelection);
    connect(view, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { openItem(index.row()); });

    if (m_clipboardManager) {
        ClipboardManager* clipboard = m_clipboardManager;
        const auto redraw = [self, clipboard] {
            if (self && self->m_model)
                self->m_model->setCutURLs(clipboard->cutItemURLs());
        };
        m_cancellables.push_back(
            clipboard->items.subscribe([redraw](const QList<FileItem>&) { redraw(); }, Delivery::Queued));
        m_cancellables.push_back(
            clipboard->mode.subscribe([redraw](ClipboardManager::Mode) { redraw(); }, Delivery::Queued));
    }
    BrowserNotices notices;
    auto initial = std::make_shared<bool>(true);
    notices.onPath = [this, initial](const std::optional<URL>& path) {
        const bool first = std::exchange(*initial, false);
        // The folder already shown leaves the view as it is; none keeps what is shown.
        if (!path || m_folder == path)
            return;
        // A browser that a mode switch made starts on the folder it took over, not on the
        // path navigation set before.
        if (first && m_folder)
            return;
        showFolder(*path);
    };
    notices.onSearch = [this] {
        applyFilter();
    };
    notices.onDeviceFilesChanged = [this] {
        reloadCurrentFolder();
    };
    notices.follow(this, m_navigationState, m_cancellables);
}

void FlatBrowserController::startTask(async::TaskHandle<void> task) {
    m_tasks.removeIf([](const async::TaskHandle<void>& handle) { return handle.isFinished(); });
    m_tasks.append(std::move(task));
}

std::shared_ptr<AlertPresenter> FlatBrowserController::presenter() {
    if (!m_alertPresenter)
        m_alertPresenter = std::make_shared<DialogAlertPresenter>();
    return m_alertPresenter;
}

// --- loading ---

URL FlatBrowserController::currentDirectoryURL() const {
    if (m_folder)
        return *m_folder;
    return URL::fileURL(QDir::homePath(), true);
}

void FlatBrowserController::showFolder(const URL& url) {
    const bool another = m_folder != std::optional<URL>(url);
    m_folder = url;
    publishFolder();
    if (another)
        forgetRows();
    loadDirectory(url);
}

void FlatBrowserController::forgetRows() {
    // The rows of the folder left must not stand under the new folder's name while its listing
    // waits (a phone busy with a copy answers late): a key, a click or a menu would act on files
    // the window no longer shows. Nothing is shown, counted or selectable until the listing comes.
    Logger::ui().debug("%s waits for the listing of %s", viewName(),
                       m_folder ? m_folder->absoluteString() : QString());
    m_failed = false;
    removeErrorPlaceholder();
    m_allItems = {};
    publishContents(m_allItems);
    applyFilter();
    setLoading(true);
}

void FlatBrowserController::setLoading(bool loading) {
    if (!m_spinner)
        return;
    if (loading) {
        m_spinner->startAnimation();
        m_spinner->raise();
    } else {
        m_spinner->stopAnimation();
    }
}

void FlatBrowserController::publishFolder() {
    // The title and the path bar name the folder of the browser on screen.
    if (m_publishes && m_folder)
        m_navigationState.columnPaths = ColumnBrowserViewController::columnPathsFor({*m_folder});
}

std::optional<BrowserCommandHandling::ShownFolder> FlatBrowserController::shownFolder() const {
    if (!m_folder)
        return std::nullopt;
    ShownFolder shown{*m_folder, std::nullopt};
    // Only a listing of this very folder that nothing has made stale is worth handing on.
    if (m_shownGeneration > 0 && !m_failed && !m_stale && m_relistingFrom == 0 &&
        m_shownGeneration + 1 == m_nextGeneration)
        shown.items = m_allItems;
    return shown;
}

void FlatBrowserController::takeOver(const ShownFolder& shown) {
    if (m_folder == shown.folder && !m_stale && m_shownGeneration > 0 && !m_failed)
        return;
    if (!shown.items) {
        m_stale = false;
        showFolder(shown.folder);
        return;
    }
    m_folder = shown.folder;
    m_stale = false;
    const quint64 generation = m_nextGeneration++;
    applyListing(generation, shown.folder, *shown.items);
}

void FlatBrowserController::loadDirectory(const URL& url, bool forgetCache) {
    removeErrorPlaceholder();
    if (forgetCache)
        m_fileSystemProvider->invalidateCache(url);
    const quint64 generation = m_nextGeneration++;
    Self self(this);
    auto provider = m_fileSystemProvider;
    startTask(async::spawn([self, provider, generation, url](std::stop_token token) {
        return listFolder(self, provider, generation, url, token);
    }));
}

void FlatBrowserController::reloadCurrentFolder() {
    if (const std::optional<URL> path = m_folder)
        loadDirectory(*path, true);
}

void FlatBrowserController::didChangeContents(const std::optional<URL>& into) {
    QList<URL> shown;
    if (m_folder && (!into || into->isSameLocation(*m_folder)))
        shown.append(*m_folder);
    if (onContentsChanged && onContentsChanged(shown))
        return;
    reloadCurrentFolder();
}

void FlatBrowserController::applyListing(quint64 generation, const URL& url, const QList<FileItem>& items) {
    // The last listing to finish must not win: a folder the user has left, or a listing older
    // than one already shown, would make pastes and drops go where the user is not looking.
    if (generation <= m_shownGeneration || m_folder != std::optional<URL>(url))
        return;
    m_shownGeneration = generation;
    m_failed = false;
    setLoading(false);
    removeErrorPlaceholder();
    m_allItems = items;
    Logger::ui().debug("%s shows %s (%ld items)", viewName(), url.absoluteString(), items.size());
    publishContents(m_allItems);
    applyFilter();
    didShowListing();
    finishRelisting(generation);
}

void FlatBrowserController::applyListingFailure(quint64 generation, const URL& url,
                                                std::exception_ptr error) {
    Logger::filesystem().error("%s load failed: %s", viewName(), async::describeException(error));
    if (generation <= m_shownGeneration || m_folder != std::optional<URL>(url))
        return;
    m_shownGeneration = generation;
    m_failed = true;
    setLoading(false);
    m_allItems.clear();
    // What the placeholder hides is neither counted nor selectable, in this view as in the others.
    publishContents(m_allItems);
    applyFilter();
    showError(error);
    finishRelisting(generation);
}

QList<FileItem> FlatBrowserController::filtered(const QList<FileItem>& items, const QString& query) {
    const QString trimmed = BrowserText::trimSpacesTabs(query);
    if (trimmed.isEmpty())
        return items;
    QList<FileItem> result;
    for (const FileItem& item : items) {
        if (item.name().contains(trimmed, Qt::CaseInsensitive))
            result.append(item);
    }
    return result;
}

QIcon FlatBrowserController::itemIcon(const QModelIndex& index) {
    const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
    if (!icon.isNull())
        return icon;
    const auto item = index.data(FileItemListModel::FileItemRole).value<std::optional<FileItem>>();
    return Symbols::icon(item && item->isDirectory() ? QStringLiteral("folder") : QStringLiteral("doc"));
}

const QList<FileItem>& FlatBrowserController::displayedItems() const {
    return m_model->items();
}

void FlatBrowserController::applyFilter() {
    if (!m_model)
        return;
    // Qt forgets the selection with the model; the same files stay selected, without a change
    // being reported for them.
    QList<FileItem> shown = filtered(m_allItems, m_navigationState.searchQuery.value());
    // The very list already shown (a navigation empties a query that was empty): nothing changes.
    if (shown.isSharedWith(m_model->items()))
        return;
    m_model->showItems(std::move(shown), m_itemView->selectionModel(), selectedItems());
    m_itemView->viewport()->update();
    // An item that has gone must leave the status bar, the preview and the toolbar's Copy.
    const QList<FileItem> selected = selectedItems();
    if (!FileItemListModel::sameItems(selected, m_publishedSelection))
        publishSelection(selected);
}

void FlatBrowserController::showError(std::exception_ptr error) {
    removeErrorPlaceholder();
    ErrorPlaceholderView* placeholder = ErrorPlaceholderView::forError(error, this);
    static_cast<QGridLayout*>(layout())->addWidget(placeholder, 0, 0);
    placeholder->show();
    placeholder->raise();
    m_errorPlaceholder = placeholder;
}

void FlatBrowserController::removeErrorPlaceholder() {
    if (m_errorPlaceholder) {
        m_errorPlaceholder->hide();
        m_errorPlaceholder->deleteLater();
    }
    m_errorPlaceholder = nullptr;
}

// --- selection and publishing ---

QList<int> FlatBrowserController::selectedRows() const {
    if (!m_itemView)
        return {};
    return m_model->selectedRows(m_itemView->selectionModel());
}

QList<FileItem> FlatBrowserController::selectedItems() const {
    if (!m_itemView)
        return {};
    return m_model->selectedItems(m_itemView->selectionModel());
}

bool FlatBrowserController::hasSelection() const {
    return m_itemView && m_itemView->selectionModel()->hasSelection();
}

void FlatBrowserController::selectRows(const QList<int>& rows, bool keepOthers) {
    QList<int> ascending = rows;
    std::sort(ascending.begin(), ascending.end());
    ascending.erase(std::unique(ascending.begin(), ascending.end()), ascending.end());
    const QItemSelection wanted = FileItemListModel::rowRuns(m_model, ascending);
    QItemSelectionModel* selection = m_itemView->selectionModel();
    if (keepOthers)
        selection->select(wanted, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    else
        selection->select(wanted, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void FlatBrowserController::syncSelection() {
    publishSelection(selectedItems());
}

void FlatBrowserController::contentsChangedElsewhere() {
    if (m_publishes)
        reloadCurrentFolder();
    else
        m_stale = true;
}

void FlatBrowserController::finishRelisting(quint64 generation) {
    // Only a listing started after the change counts; an older one that lands first is as stale
    // as what was shown before.
    if (m_relistingFrom == 0 || generation < m_relistingFrom)
        return;
    m_relistingFrom = 0;
    setPublishesSharedState(m_publishes);
}

void FlatBrowserController::setPublishesSharedState(bool publishes) {
    m_publishes = publishes;
    if (!publishes)
        return;
    publishFolder();
    if (m_stale && m_folder) {
        // Files changed while another browser was on screen: the folder lists again first, and
        // what it held before is not published meanwhile.
        m_stale = false;
        m_relistingFrom = m_nextGeneration;
        reloadCurrentFolder();
        return;
    }
    m_stale = false;
    if (m_relistingFrom != 0)
        return;
    m_navigationState.currentDirectoryContents = m_publishedContents;
    const QList<FileItem> selected = selectedItems();
    m_publishedSelection = selected;
    m_navigationState.selectedItems = QSet<FileItem>(selected.begin(), selected.end());
}

void FlatBrowserController::publishContents(const QList<FileItem>& items) {
    m_publishedContents = items;
    if (m_publishes && m_relistingFrom == 0)
        m_navigationState.currentDirectoryContents = items;
}

void FlatBrowserController::publishSelection(const QList<FileItem>& items) {
    m_publishedSelection = items;
    ++m_selectionPublishes;
    if (m_publishes && m_relistingFrom == 0)
        m_navigationState.selectedItems = QSet<FileItem>(items.begin(), items.end());
}

void FlatBrowserController::selectAllItems() {
    const quint64 published = m_selectionPublishes;
    m_itemView->selectAll();
    // A selection that changed was published by the view's own handler; a second list of every
    // item would only cost. One that did not change (all selected already) is published here.
    if (m_selectionPublishes == published)
        syncSelection();
}
