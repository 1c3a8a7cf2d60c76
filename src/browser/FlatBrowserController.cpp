#include "browser/FlatBrowserController.h"

#include "browser/BrowserKey.h"
#include "browser/BrowserText.h"
#include "browser/ColumnBrowserViewController.h"
#include "browser/DragAndDropHandler.h"
#include "browser/DragOutProduction.h"
#include "browser/Duplicates.h"
#include "browser/ErrorPlaceholderView.h"
#include "browser/FileItemListModel.h"
#include "browser/OrvantaDragMimeData.h"
#include "browser/RenameFailure.h"
#include "browser/RowDropRules.h"
#include "platform/Logger.h"
#include "platform/NotificationCenter.h"
#include "platform/UiTimerSource.h"
#include "platform/UniformType.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "services/FavoritesManager.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"
#include "uikit/Symbols.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>

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

void reloadIfShowing(const Self& self) {
    if (self)
        self->reloadCurrentFolder();
}

// After a change this browser made: its folder lists again and the other browsers hear of it.
void didChangeContents(const Self& self) {
    if (!self)
        return;
    self->reloadCurrentFolder();
    if (self->onContentsChanged)
        self->onContentsChanged();
}

async::Task<void> pasteInto(Self self, ClipboardManager* clipboard, URL folder, std::stop_token) {
    if (clipboard)
        co_await clipboard->paste(folder);
    didChangeContents(self);
}

async::Task<void> deleteItems(Self self, std::shared_ptr<FileSystemProvider> provider,
                              std::shared_ptr<AlertPresenter> presenter, QList<FileItem> items,
                              std::stop_token token) {
    if (items.first().path().scheme() == u"afc") {
        if (!self)
            co_return;
        AlertRequest question;
        question.style = AlertRequest::Style::warning;
        question.message = FlatBrowserController::deleteQuestion(items);
        question.informative =
            QStringLiteral("This will permanently delete the selected item(s) from your device.");
        question.buttons = QStringList{QStringLiteral("Delete"), QStringLiteral("Cancel")};
        QWidget* parent = self->window();
        const AlertResponse answer = co_await presenter->ask(question, parent, token);
        if (answer.buttonIndex() != 0)
            co_return;
    }
    // Once confirmed, every deletion is tried, each on its own: one that fails is logged and the
    // next one follows.
    for (qsizetype index = 0; index < items.size(); ++index) {
        const FileItem item = items.at(index);
        std::exception_ptr failure;
        try {
            co_await provider->deleteItem(item);
        } catch (const async::CancelledError&) {
            throw;
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure)
            Logger::ui().error("Delete failed for %s: %s", item.name(), async::describeException(failure));
    }
    didChangeContents(self);
}

async::Task<void> renameItem(Self self, std::shared_ptr<FileSystemProvider> provider,
                             std::shared_ptr<AlertPresenter> presenter, FileItem item,
                             std::stop_token token) {
    if (!self)
        co_return;
    AlertRequest question;
    question.style = AlertRequest::Style::informational;
    question.message = QStringLiteral("Rename");
    question.informative = QStringLiteral("Enter a new name for \"%1\".").arg(item.name());
    question.buttons = QStringList{QStringLiteral("Rename"), QStringLiteral("Cancel")};
    AlertRequest::TextField field;
    field.initialText = item.name();
    question.textField = field;
    QWidget* parent = self->window();
    const AlertResponse answer = co_await presenter->ask(question, parent, token);
    if (answer.buttonIndex() != 0)
        co_return;
    const QString newName = answer.text.trimmed();
    if (newName == item.name() || !self)
        co_return;
    if (std::optional<AlertRequest> why = RenameFailure::refusal(item.name(), newName)) {
        co_await presenter->ask(*why, self->window(), token);
        co_return;
    }
    const URL from = item.path();
    const URL to = from.deletingLastPathComponent().appendingPathComponent(newName, from.hasDirectoryPath());
    std::exception_ptr failure;
    try {
        co_await provider->renameItem(from, to);
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure)
        Logger::ui().error("Rename failed: %s", async::describeException(failure));
    didChangeContents(self);
    if (!failure || !self)
        co_return;
    const AlertRequest why = RenameFailure::alert(item.name(), newName, failure);
    QWidget* window = self->window();
    co_await presenter->ask(why, window, token);
}

async::Task<void> dropItems(Self self, std::shared_ptr<FileSystemProvider> provider,
                            std::shared_ptr<TransferManager> transfers, QList<FileItem> displayed,
                            RowDropRules::Plan plan, std::stop_token) {
    async::Task<QList<FileItem>> resolving = FlatBrowserController::fileItems(provider, displayed, plan.urls);
    const QList<FileItem> items = co_await resolving;
    if (items.isEmpty())
        co_return;
    std::exception_ptr failure;
    try {
        if (plan.isMove)
            co_await transfers->moveItems(items, plan.target);
        else
            co_await transfers->transferAndAwait(items, plan.target, std::nullopt);
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure)
        Logger::ui().error("Drop failed: %s", async::describeException(failure));
    didChangeContents(self);
}

async::Task<void> moveItems(std::shared_ptr<TransferManager> transfers, QList<FileItem> items, URL target,
                            std::stop_token) {
    std::exception_ptr failure;
    try {
        co_await transfers->moveItems(items, target);
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure)
        Logger::transfer().error("Move failed: %s", async::describeException(failure));
}

// An item for a dropped location nobody could describe: what the disk says of it, or nothing
// but its name.
FileItem itemFromURL(const URL& url) {
    const QFileInfo info(url.isFileURL() ? url.toLocalFile() : QString());
    const bool exists = url.isFileURL() && info.exists();
    const bool isDirectory = exists && info.isDir();
    const QString extension = QFileInfo(url.lastPathComponent()).suffix();
    std::optional<UniformType> type = UniformType::forFilenameExtension(extension);
    if (type && !type->conformsTo(UniformType::data()))
        type.reset();
    const FileKind kind = isDirectory ? FileKind(FileKind::folder) : FileKind::fromUTI(type);
    const Date date = exists ? Date::fromQDateTime(info.lastModified()) : Date::now();
    return FileItem(url.absoluteString(), url.lastPathComponent(), url, isDirectory,
                    exists && !isDirectory ? quint64(info.size()) : 0, date, kind, type);
}

} // namespace

// --- keys ---

std::function<void()>* FlatBrowserKeys::callbackFor(const QKeyEvent* event) {
    switch (browserKeyFor(event)) {
    case BrowserKey::deleteItems:
        return &onDelete;
    case BrowserKey::rename:
        return &onRename;
    case BrowserKey::quickLook:
        return &onQuickLook;
    case BrowserKey::copy:
        return &onCopy;
    case BrowserKey::cut:
        return &onCut;
    case BrowserKey::paste:
        return &onPaste;
    case BrowserKey::duplicate:
        return &onDuplicate;
    case BrowserKey::none:
        break;
    }
    return nullptr;
}

bool FlatBrowserKeys::handle(QKeyEvent* event) {
    std::function<void()>* callback = callbackFor(event);
    if (!callback)
        return false;
    // A key of the view without a handler is swallowed, never handed on.
    event->accept();
    if (*callback)
        (*callback)();
    return true;
}

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
                                           FlatBrowserKeys* keys) {
    m_itemView = view;
    m_model = model;
    // The view and the placeholder share one cell: the placeholder lies over the view.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view, 0, 0);
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
    auto initial = std::make_shared<bool>(true);
    m_cancellables.push_back(m_navigationState.currentPath.subscribe(
        [self, initial](const std::optional<URL>& path) {
            const bool first = std::exchange(*initial, false);
            // The folder already shown leaves the view as it is; none keeps what is shown.
            if (!self || !path || self->m_folder == path)
                return;
            // A browser that a mode switch made starts on the folder it took over, not on the
            // path navigation set before.
            if (first && self->m_folder)
                return;
            self->showFolder(*path);
        },
        Delivery::Queued));
    m_cancellables.push_back(m_navigationState.searchQuery.subscribe(
        [self](const QString&) {
            if (self)
                self->applyFilter();
        },
        Delivery::Queued));
    for (const QString& name : {TransferManager::afcFilesDeleted, TransferManager::afcFilesUploaded}) {
        m_cancellables.push_back(NotificationCenter::defaultCenter().observe(
            name, [self](const Notification&) { reloadIfShowing(self); }));
    }
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
    m_folder = url;
    publishFolder();
    loadDirectory(url);
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

void FlatBrowserController::applyListing(quint64 generation, const URL& url, const QList<FileItem>& items) {
    // The last listing to finish must not win: a folder the user has left, or a listing older
    // than one already shown, would make pastes and drops go where the user is not looking.
    if (generation <= m_shownGeneration || m_folder != std::optional<URL>(url))
        return;
    m_shownGeneration = generation;
    m_failed = false;
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
    QList<URL> selectedPaths;
    for (const FileItem& item : selectedItems())
        selectedPaths.append(item.path());
    m_model->setItems(std::move(shown));
    m_model->reselect(m_itemView->selectionModel(), selectedPaths);
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

// --- commands ---

bool FlatBrowserController::canPaste() const {
    return m_clipboardManager && m_clipboardManager->canPaste(currentDirectoryURL());
}

void FlatBrowserController::setClipboard(bool cut) {
    const QList<FileItem> items = selectedItems();
    if (items.isEmpty() || !m_clipboardManager)
        return;
    m_clipboardManager->items = items;
    m_clipboardManager->mode = cut ? ClipboardManager::Mode::cut : ClipboardManager::Mode::copy;
}

void FlatBrowserController::copySelection() {
    setClipboard(false);
}

void FlatBrowserController::cutSelection() {
    setClipboard(true);
}

void FlatBrowserController::paste() {
    const URL target = currentDirectoryURL();
    Self self(this);
    ClipboardManager* clipboard = m_clipboardManager;
    startTask(async::spawn([self, clipboard, target](std::stop_token token) {
        return pasteInto(self, clipboard, target, token);
    }));
}

void FlatBrowserController::duplicateSelection() {
    const QList<FileItem> items = selectedItems();
    if (items.isEmpty() || !m_transferManager)
        return;
    startTask(async::spawn(
        [items, provider = m_fileSystemProvider, transfers = m_transferManager](std::stop_token token) {
            return Duplicates::duplicate(items, provider, transfers, token);
        }));
}

QString FlatBrowserController::deleteQuestion(const QList<FileItem>& items) {
    return ColumnBrowserViewController::deleteQuestion(items);
}

void FlatBrowserController::deleteSelection() {
    confirmAndDelete(selectedItems());
}

void FlatBrowserController::confirmAndDelete(QList<FileItem> items) {
    if (items.isEmpty())
        return;
    Self self(this);
    auto provider = m_fileSystemProvider;
    auto alerts = presenter();
    startTask(async::spawn([self, provider, alerts, items](std::stop_token token) {
        return deleteItems(self, provider, alerts, items, token);
    }));
}

void FlatBrowserController::renameSelection() {
    renameSelectedItem();
}

void FlatBrowserController::renameSelectedItem() {
    const QList<FileItem> items = selectedItems();
    if (items.size() != 1)
        return;
    Self self(this);
    auto provider = m_fileSystemProvider;
    auto alerts = presenter();
    const FileItem item = items.first();
    startTask(async::spawn([self, provider, alerts, item](std::stop_token token) {
        return renameItem(self, provider, alerts, item, token);
    }));
}

void FlatBrowserController::openItem(int row) {
    if (row < 0 || row >= displayedItems().size())
        return;
    const FileItem item = displayedItems().at(row);
    if (item.isDirectory())
        m_navigationState.navigate(item.path());
}

// --- context menu ---

FileContextMenuActions FlatBrowserController::menuActions(const QList<FileItem>& items) {
    FileContextMenuActions actions;
    Self self(this);
    const auto command = [self](void (FlatBrowserController::*method)()) {
        return [self, method] {
            if (self)
                (self.data()->*method)();
        };
    };
    // The copy and move entries keep the items the menu was made for.
    std::shared_ptr<TransferManager> transfers = m_transferManager;
    if (transfers) {
        actions.copyAction = [transfers, items](const URL& destination) {
            const Transfer transfer = transfers->startTransfer(items, destination);
            transfers->launchTask(transfer);
        };
        if (items.first().path().scheme() == u"afc") {
            actions.moveAction = [self, transfers, items](const URL& destination) {
                auto task = async::spawn([transfers, items, destination](std::stop_token token) {
                    return moveItems(transfers, items, destination, token);
                });
                if (self)
                    self->startTask(std::move(task));
            };
        }
    }
    if (items.size() == 1 && m_favoritesManager) {
        FavoritesManager* favorites = m_favoritesManager;
        actions.addToSidebarAction = [favorites](const FileItem& folder) {
            favorites->add(folder.name(), folder.path(), QStringLiteral("folder.fill"));
        };
    }
    actions.cutAction = command(&FlatBrowserController::cutSelection);
    actions.copyClipboardAction = command(&FlatBrowserController::copySelection);
    actions.pasteAction = command(&FlatBrowserController::paste);
    actions.canPaste = canPaste();
    if (items.size() == 1)
        actions.renameAction = command(&FlatBrowserController::renameSelectedItem);
    actions.duplicateAction = command(&FlatBrowserController::duplicateSelection);
    // The selection when the entry is chosen.
    actions.deleteAction = command(&FlatBrowserController::deleteSelection);
    return actions;
}

QMenu* FlatBrowserController::contextMenuAt(const QPoint& viewportPoint) {
    if (m_contextMenu) {
        m_contextMenu->hide();
        m_contextMenu->deleteLater();
    }
    const QModelIndex clicked = m_itemView->indexAt(viewportPoint);
    if (clicked.isValid() && clicked.row() < displayedItems().size() &&
        !selectedRows().contains(clicked.row())) {
        if (contextClickAddsToSelection()) {
            selectRows({clicked.row()}, true);
        } else {
            selectRows({clicked.row()}, false);
            m_itemView->selectionModel()->setCurrentIndex(clicked, QItemSelectionModel::NoUpdate);
        }
        syncSelection();
    }
    const QList<FileItem> items = selectedItems();
    std::shared_ptr<AFCBridge> bridge = m_transferManager ? m_transferManager->afcBridge() : nullptr;
    m_contextMenu =
        items.isEmpty() ? new QMenu(this) : makeFileContextMenu(items, bridge, menuActions(items), this);
    if (ContextMenuTarget* target = ContextMenuTarget::of(m_contextMenu)) {
        target->dialogParent = window();
        target->alertPresenter = presenter();
    }
    if (onContextMenuMade)
        onContextMenuMade(m_contextMenu);
    return m_contextMenu;
}

// --- drags and drops ---

RowDropRules::Operation FlatBrowserController::dropOperation(const QMimeData* data, int row, bool onItem,
                                                             Qt::KeyboardModifiers modifiers,
                                                             int* targetRow) const {
    bool intoItem = onItem && row >= 0 && row < displayedItems().size();
    if (intoItem && !displayedItems().at(row).isDirectory() && !refusesDropOnFile())
        intoItem = false;
    if (targetRow)
        *targetRow = intoItem && displayedItems().at(row).isDirectory() ? row : -1;
    // With no folder shown there is nowhere for a drop outside the items to go.
    if (!intoItem && !m_folder)
        return RowDropRules::Operation::none;
    const RowDropRules::Context context = RowDropRules::contextFor(
        data, displayedItems(), currentDirectoryURL(), intoItem ? row : -1,
        intoItem ? RowDropRules::Position::on : RowDropRules::Position::above, modifiers);
    return RowDropRules::validate(context);
}

Qt::DropAction FlatBrowserController::dropAction(const QMimeData* data, int row, bool onItem,
                                                 Qt::KeyboardModifiers modifiers) const {
    return RowDropRules::toDropAction(dropOperation(data, row, onItem, modifiers, nullptr));
}

Qt::DropAction FlatBrowserController::hoverDrop(const QMimeData* data, int row, bool onItem,
                                                Qt::KeyboardModifiers modifiers) {
    int target = -1;
    const RowDropRules::Operation operation = dropOperation(data, row, onItem, modifiers, &target);
    DropHighlight highlight;
    if (operation != RowDropRules::Operation::none)
        highlight = {operation, target};
    setDropHighlight(highlight);
    return RowDropRules::toDropAction(operation);
}

void FlatBrowserController::setDropHighlight(DropHighlight highlight) {
    if (highlight == m_dropHighlight)
        return;
    m_dropHighlight = highlight;
    if (m_itemView)
        m_itemView->viewport()->update();
    // For scripts that hover a drag over the view from outside and wait for what it shows.
    const char* operation = highlight.operation == RowDropRules::Operation::move ? "move" : "copy";
    if (highlight.operation == RowDropRules::Operation::none)
        Logger::ui().debug("%s drop highlight: none", viewName());
    else if (highlight.row >= 0)
        Logger::ui().debug("%s drop highlight: %s on row %d", viewName(), operation, highlight.row);
    else
        Logger::ui().debug("%s drop highlight: %s on the whole view", viewName(), operation);
}

bool FlatBrowserController::acceptDrop(const QMimeData* data, int row, bool onItem,
                                       Qt::KeyboardModifiers modifiers) {
    const bool inside = row >= 0 && row < displayedItems().size();
    const bool intoFolder = inside && onItem && displayedItems().at(row).isDirectory();
    if (!intoFolder && !m_folder)
        return false;
    const RowDropRules::Context context = RowDropRules::contextFor(
        data, displayedItems(), currentDirectoryURL(), intoFolder ? row : -1,
        intoFolder ? RowDropRules::Position::on : RowDropRules::Position::above, modifiers);
    const std::optional<RowDropRules::Plan> plan = RowDropRules::accept(context);
    if (!plan)
        return false;
    Self self(this);
    auto provider = m_fileSystemProvider;
    auto transfers = m_transferManager;
    const QList<FileItem> displayed = displayedItems();
    const RowDropRules::Plan taken = *plan;
    startTask(async::spawn([self, provider, transfers, displayed, taken](std::stop_token token) {
        return dropItems(self, provider, transfers, displayed, taken, token);
    }));
    return true;
}

async::Task<QList<FileItem>> FlatBrowserController::fileItems(std::shared_ptr<FileSystemProvider> provider,
                                                              QList<FileItem> displayed, QList<URL> urls) {
    QList<FileItem> items;
    for (qsizetype index = 0; index < urls.size(); ++index) {
        const URL url = urls.at(index);
        const auto listed = std::find_if(displayed.cbegin(), displayed.cend(),
                                         [&url](const FileItem& item) { return item.path() == url; });
        if (listed != displayed.cend()) {
            items.append(*listed);
            continue;
        }
        std::optional<FileItem> described;
        try {
            if (url.scheme() == u"afc") {
                async::Task<FileItem> asking = provider->afcItem(url);
                described = co_await asking;
            } else {
                async::Task<FileItem> asking = provider->localItem(url);
                described = co_await asking;
            }
        } catch (const async::CancelledError&) {
            throw;
        } catch (...) {
            // Resolving a dropped location never fails: the location itself makes the item.
        }
        items.append(described ? *described : itemFromURL(url));
    }
    co_return items;
}

void FlatBrowserController::startDrag(QWidget* source) {
    const QList<FileItem> items = selectedItems();
    if (items.isEmpty())
        return;
    if (dragStarter) {
        dragStarter(items, source);
        return;
    }
    DragOutProduction::execDrag(source, items, m_dragHandler, UiTimerSource::system(), presenter());
}
