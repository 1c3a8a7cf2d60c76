#include "browser/FileItemListModel.h"
#include "browser/ColumnBrowserViewController.h"

#include "browser/BrowserText.h"
#include "browser/ColumnDividerView.h"
#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "browser/DragAndDropHandler.h"
#include "browser/DropAcceptingScrollView.h"
#include "browser/Duplicates.h"
#include "browser/ErrorPlaceholderView.h"
#include "device/AFCComponents.h"
#include "device/AFCLocation.h"
#include "platform/Logger.h"
#include "platform/NotificationCenter.h"
#include "platform/UiTimerSource.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"
#include "uikit/FolderChooser.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

namespace {

using Self = QPointer<ColumnBrowserViewController>;

bool isInsideAppContainer(const URL& url) {
    const auto components = afcComponents(url);
    return components && components->bundleID;
}

// Splits a name into its base and its extension as the duplicate names need them: a leading dot
// marks a hidden name, not an extension.
std::pair<QString, QString> splitExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1)
        return {name, QString()};
    return {name.left(dot), name.mid(dot + 1)};
}

struct Listed {
    QList<FileItem> items;
    std::exception_ptr failure;
};

async::Task<Listed> listFolder(std::shared_ptr<FileSystemProvider> provider, URL url) {
    Listed result;
    try {
        result.items = co_await provider->listDirectory(url);
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        result.failure = std::current_exception();
    }
    co_return result;
}

async::Task<void> listColumn(Self self, std::shared_ptr<FileSystemProvider> provider, int index, URL url,
                             std::stop_token) {
    const Listed listed = co_await listFolder(provider, url);
    if (!self)
        co_return;
    if (listed.failure)
        self->applyListingFailure(index, url, listed.failure);
    else
        self->applyListing(index, url, listed.items);
}

async::Task<void> refreshColumns(Self self, std::shared_ptr<FileSystemProvider> provider, quint64 relisting,
                                 std::stop_token) {
    if (!self)
        co_return;
    provider->invalidateCache(std::nullopt);
    const qsizetype count = self->columns().size();
    for (int index = 0; index < count; ++index) {
        // The columns may have been cut back while an earlier folder listed: then this ends.
        if (!self || self->currentRelisting() != relisting)
            co_return;
        if (index >= self->columns().size())
            break;
        const URL url = self->columns().at(index).path;
        const Listed listed = co_await listFolder(provider, url);
        if (!self || self->currentRelisting() != relisting)
            co_return;
        // A folder that cannot be listed now (its device came back locked) holds no folder
        // anyone can open: the columns after it go, as after one that vanished. An answer that
        // came too late for its column (renamed or moved meanwhile) says nothing about the others.
        const bool applied = listed.failure ? self->applyListingFailure(index, url, listed.failure)
                                            : self->applyListing(index, url, listed.items);
        if (applied)
            self->closeVanishedColumns(index);
    }
    if (self)
        self->finishRelisting();
}

async::Task<void> runPaste(Self self, ClipboardManager* clipboard, URL folder, std::stop_token) {
    if (!self)
        co_return;
    if (clipboard)
        co_await clipboard->paste(folder);
    if (self)
        self->didChangeContents();
}

async::Task<void> runDeletion(Self self, std::shared_ptr<FileSystemProvider> provider,
                              std::shared_ptr<AlertPresenter> presenter, QList<FileItem> items, bool askFirst,
                              std::stop_token token) {
    if (askFirst) {
        if (!self)
            co_return;
        AlertRequest question;
        question.style = AlertRequest::Style::warning;
        question.message = ColumnBrowserViewController::deleteQuestion(items);
        question.informative = QStringLiteral("This will permanently delete the file(s) from your device.");
        question.buttons = QStringList{QStringLiteral("Delete"), QStringLiteral("Cancel")};
        QWidget* parent = self->window();
        const AlertResponse answer = co_await presenter->ask(question, parent, token);
        if (answer.buttonIndex() != 0)
            co_return;
    }
    // Once confirmed, the deletions run to their end even when the browser goes away meanwhile.
    QStringList failures;
    for (const FileItem& item : std::as_const(items)) {
        std::exception_ptr failure;
        try {
            co_await provider->deleteItem(item);
        } catch (const async::CancelledError&) {
            throw;
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            failures.append(item.name());
            Logger::ui().error("Delete failed for %s: %s", item.name(), async::describeException(failure));
        }
    }
    if (!self)
        co_return;
    self->didChangeContents();
    if (failures.isEmpty())
        co_return;
    AlertRequest summary;
    summary.style = AlertRequest::Style::warning;
    summary.message = failures.size() == 1 ? QStringLiteral("Could not delete \"%1\"").arg(failures.first())
                                           : QStringLiteral("Could not delete %1 items").arg(failures.size());
    summary.informative = failures.join(u'\n');
    summary.buttons = QStringList{QStringLiteral("OK")};
    QWidget* parent = self->window();
    co_await presenter->ask(summary, parent, token);
}

} // namespace

ColumnBrowserViewController::ColumnBrowserViewController(
    std::shared_ptr<FileSystemProvider> fileSystemProvider, NavigationState& navigationState,
    std::shared_ptr<TransferManager> transferManager, FavoritesManager* favoritesManager,
    UiTimerSource& timers, QWidget* parent)
    : QWidget(parent), m_fileSystemProvider(std::move(fileSystemProvider)),
      m_navigationState(navigationState), m_transferManager(std::move(transferManager)),
      m_favoritesManager(favoritesManager), m_timers(timers) {
    setObjectName(QStringLiteral("columnBrowserView"));
    m_containerView = new QWidget;
    m_containerView->setObjectName(QStringLiteral("columnContainerView"));
    m_columnsLayout = new QHBoxLayout(m_containerView);
    m_columnsLayout->setContentsMargins(0, 0, 0, 0);
    m_columnsLayout->setSpacing(0);
    m_columnsLayout->addStretch(1);

    m_dragHandler = DragAndDropHandler::create(m_transferManager);
    m_scrollArea = new DropAcceptingScrollView;
    m_scrollArea->setObjectName(QStringLiteral("columnScrollArea"));
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setWidget(m_containerView);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scrollArea);

    Self self(this);
    // Files from other programs dropped beside the columns go to the folder the columns end in,
    // wherever the keyboard focus is.
    m_scrollArea->onDrop = [self](const QList<URL>& urls) {
        if (!self || self->m_columns.isEmpty() || !self->m_transferManager)
            return;
        const URL folder = self->m_columns.last().path;
        Logger::ui().info("Drop of %ld files beside the columns copies into %s", urls.size(),
                          folder.absoluteString());
        self->m_transferManager->startTransfer(urls, folder);
    };
    m_cancellables.push_back(m_navigationState.currentPath.subscribe(
        [self](const std::optional<URL>& path) {
            // None leaves the columns as they are, and so does the same folder again while it is
            // the only column. Shown again once the columns went deeper (its sidebar row or path
            // bar segment clicked), it is the only column once more.
            if (!self || !path)
                return;
            if (self->m_shownPath == path && self->m_columns.size() == 1 &&
                self->m_columns.first().path == *path)
                return;
            self->m_shownPath = path;
            self->resetColumns(*path);
        },
        Delivery::Queued));
    m_cancellables.push_back(m_navigationState.searchQuery.subscribe(
        [self](const QString&) {
            if (self)
                self->applySearchFilter();
        },
        Delivery::Queued));
    for (const QString& name : {TransferManager::afcFilesDeleted, TransferManager::afcFilesUploaded}) {
        m_cancellables.push_back(
            NotificationCenter::defaultCenter().observe(name, [self](const Notification&) {
                if (self)
                    self->refreshAllColumns();
            }));
    }
}

ColumnBrowserViewController::~ColumnBrowserViewController() {
    m_cancellables.clear();
    for (const auto& task : std::as_const(m_tasks))
        task.cancel();
}

void ColumnBrowserViewController::setAlertPresenter(std::shared_ptr<AlertPresenter> presenter) {
    m_alertPresenter = std::move(presenter);
    configurePanels();
}

void ColumnBrowserViewController::setFolderChooser(std::shared_ptr<FolderChooser> chooser) {
    m_folderChooser = std::move(chooser);
    configurePanels();
}

void ColumnBrowserViewController::setDragHandler(std::shared_ptr<DragAndDropHandler> handler) {
    m_dragHandler = std::move(handler);
    configurePanels();
}

void ColumnBrowserViewController::configurePanels() {
    for (ColumnPanelView* panel : std::as_const(m_panels)) {
        panel->alertPresenter = m_alertPresenter;
        panel->folderChooser = m_folderChooser;
        panel->dragHandler = m_dragHandler;
    }
}

void ColumnBrowserViewController::startTask(async::TaskHandle<void> task) {
    m_tasks.removeIf([](const async::TaskHandle<void>& handle) { return handle.isFinished(); });
    m_tasks.append(std::move(task));
}

// --- publishing ---

void ColumnBrowserViewController::setPublishesSharedState(bool publishes) {
    m_publishes = publishes;
    if (!publishes)
        return;
    updateColumnPaths();
    if (m_stale) {
        // Files changed while another browser was on screen: what these columns hold is older
        // than that, so they list again first and publish when done.
        m_stale = false;
        m_awaitingRelisting = !m_columns.isEmpty();
        refreshAllColumns();
        if (m_awaitingRelisting)
            return;
    }
    if (m_awaitingRelisting)
        return;
    m_navigationState.currentDirectoryContents = m_contents;
    m_navigationState.selectedItems = QSet<FileItem>(m_selection.begin(), m_selection.end());
}

std::optional<BrowserCommandHandling::ShownFolder> ColumnBrowserViewController::shownFolder() const {
    if (m_columns.isEmpty())
        return std::nullopt;
    const ColumnState& last = m_columns.last();
    ShownFolder shown{last.path, std::nullopt};
    if (!last.isLoading && !last.failed && !m_stale && !m_awaitingRelisting)
        shown.items = last.items;
    return shown;
}

void ColumnBrowserViewController::takeOver(const ShownFolder& shown) {
    // The columns that end in that folder stay as they are, with the folders above it.
    if (!m_columns.isEmpty() && m_columns.last().path == shown.folder)
        return;
    m_shownPath = shown.folder;
    m_stale = false;
    resetColumns(shown.folder);
}

void ColumnBrowserViewController::publishContents(const QList<FileItem>& items) {
    m_contents = items;
    if (m_publishes && !m_awaitingRelisting)
        m_navigationState.currentDirectoryContents = items;
}

void ColumnBrowserViewController::publishSelection(const QList<FileItem>& items) {
    m_selection = items;
    ++m_selectionPublishes;
    if (m_publishes && !m_awaitingRelisting)
        m_navigationState.selectedItems = QSet<FileItem>(items.begin(), items.end());
}

void ColumnBrowserViewController::republishSelectionOf(int column) {
    if (column != m_selectionColumn || column < 0 || column >= m_panels.size())
        return;
    const QList<FileItem> selected = m_panels.at(column)->selectedItems();
    if (!FileItemListModel::sameItems(selected, m_selection))
        publishSelection(selected);
}

// --- columns ---

QList<FileItem> ColumnBrowserViewController::filteredItems(const QList<FileItem>& items) const {
    const QString query = BrowserText::trimSpacesTabs(m_navigationState.searchQuery.value());
    if (query.isEmpty())
        return items;
    QList<FileItem> result;
    for (const FileItem& item : items) {
        if (item.name().contains(query, Qt::CaseInsensitive))
            result.append(item);
    }
    return result;
}

void ColumnBrowserViewController::applySearchFilter() {
    // A column that could not be listed keeps its placeholder: filtering an empty list must not
    // turn it into an empty folder.
    for (int index = 0; index < m_panels.size() && index < m_columns.size(); ++index) {
        m_panels.at(index)->setItems(filteredItems(m_columns.at(index).items));
        republishSelectionOf(index);
    }
}

void ColumnBrowserViewController::resetColumns(const URL& url) {
    // The keyboard stays in the browser: a new folder's first column takes the focus the old
    // columns had, or the window's when nobody had it. Asked before the old columns hide, which
    // hands the focus on to the window's next part.
    QWidget* focus = QApplication::focusWidget();
    const bool takeFocus = isVisible() && (!focus || isAncestorOf(focus));
    for (ColumnPanelView* panel : std::as_const(m_panels)) {
        panel->hide();
        panel->deleteLater();
    }
    for (ColumnDividerView* divider : std::as_const(m_dividers)) {
        divider->hide();
        divider->deleteLater();
    }
    if (m_trailingDivider) {
        m_trailingDivider->hide();
        m_trailingDivider->deleteLater();
    }
    m_panels.clear();
    m_dividers.clear();
    m_columns.clear();
    m_trailingDivider = nullptr;
    m_selectionColumn = -1;
    if (!m_selection.isEmpty())
        publishSelection({});
    appendColumn(url);
    m_scrollArea->horizontalScrollBar()->setValue(0);
    if (takeFocus)
        m_panels.first()->tableView()->setFocus();
}

void ColumnBrowserViewController::appendColumn(const URL& url) {
    const int index = int(m_columns.size());
    ColumnState column;
    column.path = url;
    m_columns.append(column);
    ColumnPanelView* panel = makePanel(index, url);
    layoutNewColumn(panel);
    m_panels.append(panel);
    updateColumnPaths();
    Self self(this);
    auto provider = m_fileSystemProvider;
    startTask(async::spawn([self, provider, index, url](std::stop_token token) {
        return listColumn(self, provider, index, url, token);
    }));
}

ColumnPanelView* ColumnBrowserViewController::makePanel(int index, const URL& url) {
    auto* panel = new ColumnPanelView(m_timers);
    panel->setObjectName(QStringLiteral("columnPanel-%1").arg(index));
    panel->setLoading(true);
    panel->directoryPath = url;
    panel->fileSystemProvider = m_fileSystemProvider;
    panel->transferManager = m_transferManager;
    panel->favoritesManager = m_favoritesManager;
    panel->dragHandler = m_dragHandler;
    panel->alertPresenter = m_alertPresenter;
    panel->folderChooser = m_folderChooser;

    Self self(this);
    panel->onSelectItem = [self, index](const FileItem& item, int row) {
        if (self)
            self->columnSelectionChanged(item, row, index);
    };
    panel->onDeselectAll = [self, index] {
        if (self)
            self->columnDeselected(index);
    };
    const auto command = [self](void (ColumnBrowserViewController::*method)()) {
        return [self, method] {
            if (self)
                (self.data()->*method)();
        };
    };
    QPointer<ColumnPanelView> weakPanel(panel);
    const auto renameInPanel = [weakPanel] {
        if (!weakPanel)
            return;
        const QList<int> rows = weakPanel->selectedRows();
        if (rows.isEmpty())
            return;
        if (rows.first() < weakPanel->items().size())
            weakPanel->beginRename(weakPanel->items().at(rows.first()));
    };

    ColumnTableView* table = panel->tableView();
    table->onRightArrow = [self, index] {
        if (self)
            self->moveFocusRight(index);
    };
    table->onLeftArrow = [self, index] {
        if (self && index >= 1 && index - 1 < self->m_panels.size())
            self->focusColumn(index - 1);
    };
    table->onDelete = command(&ColumnBrowserViewController::deleteSelection);
    table->onCopy = command(&ColumnBrowserViewController::copySelection);
    table->onCut = command(&ColumnBrowserViewController::cutSelection);
    table->onPaste = command(&ColumnBrowserViewController::paste);
    table->onDuplicate = command(&ColumnBrowserViewController::duplicateSelection);
    table->onRename = renameInPanel;
    table->onQuickLook = [self] {
        if (self && self->onQuickLook)
            self->onQuickLook();
    };

    // The context menu acts on the rows it was opened on.
    panel->onDeleteAction = [self](const QList<FileItem>& items) {
        if (self)
            self->deleteItems(items);
    };
    panel->onCopyClipboardAction = [self](const QList<FileItem>& items) {
        if (self)
            self->copyItems(items, false);
    };
    panel->onCutAction = [self](const QList<FileItem>& items) {
        if (self)
            self->copyItems(items, true);
    };
    panel->onDuplicateAction = [self](const QList<FileItem>& items) {
        if (self)
            self->duplicateItems(items);
    };
    panel->onPasteAction = [self](const URL& folder) {
        if (self)
            self->pasteInto(folder);
    };
    // The column's folder as it is now: a renamed folder's column follows its new name.
    panel->canPasteProvider = [self, weakPanel] {
        return self && weakPanel && self->clipboardManager &&
               self->clipboardManager->canPaste(weakPanel->directoryPath);
    };
    panel->onDropCompleted = command(&ColumnBrowserViewController::didChangeContents);
    panel->onRenamed = [self](const URL& from, const URL& to) {
        if (self)
            self->followRename(from, to);
    };

    panel->clipboardManager = clipboardManager;
    panel->observeClipboard();
    return panel;
}

ColumnDividerView* ColumnBrowserViewController::makeDivider(ColumnPanelView* panel, const QString& objectName) {
    auto* divider = new ColumnDividerView;
    divider->setObjectName(objectName);
    QPointer<ColumnPanelView> weakPanel(panel);
    Self self(this);
    divider->onDrag = [self, weakPanel](double delta) {
        if (self && weakPanel)
            self->resizeColumn(weakPanel, delta);
    };
    divider->onOptionDrag = [self](double delta) {
        if (!self)
            return;
        for (ColumnPanelView* each : std::as_const(self->m_panels))
            self->resizeColumn(each, delta);
    };
    return divider;
}

void ColumnBrowserViewController::resizeColumn(ColumnPanelView* panel, double delta) {
    panel->setColumnWidth(std::max(qRound(panel->columnWidth() + delta), minimumColumnWidth));
    m_containerView->layout()->activate();
}

void ColumnBrowserViewController::layoutNewColumn(ColumnPanelView* panel) {
    // Each panel is followed by its divider; the last one by the trailing divider, then the
    // stretch that fills the rest of the row.
    if (!m_panels.isEmpty()) {
        ColumnDividerView* divider =
            makeDivider(m_panels.last(), QStringLiteral("columnDivider-%1").arg(m_dividers.size()));
        m_columnsLayout->insertWidget(m_columnsLayout->indexOf(m_trailingDivider), divider);
        m_dividers.append(divider);
    }
    if (m_trailingDivider) {
        m_columnsLayout->removeWidget(m_trailingDivider);
        m_trailingDivider->hide();
        m_trailingDivider->deleteLater();
        m_trailingDivider = nullptr;
    }
    m_columnsLayout->insertWidget(m_columnsLayout->count() - 1, panel);
    m_trailingDivider = makeDivider(panel, QStringLiteral("trailingDivider"));
    m_columnsLayout->insertWidget(m_columnsLayout->count() - 1, m_trailingDivider);
}

void ColumnBrowserViewController::replaceTrailingDivider() {
    if (m_trailingDivider) {
        m_columnsLayout->removeWidget(m_trailingDivider);
        m_trailingDivider->hide();
        m_trailingDivider->deleteLater();
        m_trailingDivider = nullptr;
    }
    if (m_panels.isEmpty())
        return;
    m_trailingDivider = makeDivider(m_panels.last(), QStringLiteral("trailingDivider"));
    m_columnsLayout->insertWidget(m_columnsLayout->count() - 1, m_trailingDivider);
}

void ColumnBrowserViewController::truncateColumns(int index) {
    while (m_panels.size() > index + 1) {
        ColumnPanelView* panel = m_panels.takeLast();
        m_columnsLayout->removeWidget(panel);
        panel->hide();
        panel->deleteLater();
        m_columns.removeLast();
        if (!m_dividers.isEmpty()) {
            ColumnDividerView* divider = m_dividers.takeLast();
            m_columnsLayout->removeWidget(divider);
            divider->hide();
            divider->deleteLater();
        }
    }
    if (m_selectionColumn > index)
        m_selectionColumn = -1;
    replaceTrailingDivider();
    updateColumnPaths();
    // The window counts the last column's folder: once the columns are cut back, that is an
    // earlier one.
    if (!m_columns.isEmpty() && !m_columns.last().isLoading && !FileItemListModel::sameItems(m_columns.last().items, m_contents))
        publishContents(m_columns.last().items);
}

void ColumnBrowserViewController::columnSelectionChanged(const FileItem& item, int row, int column) {
    if (column < 0 || column >= m_columns.size())
        return;
    m_columns[column].selectedRow = row;
    truncateColumns(column);
    m_selectionColumn = column;
    // The selected rows are the selection, a folder too: the Edit menu acts on it as the context
    // menu does. One folder alone also opens its column.
    const QList<FileItem> selected = m_panels.at(column)->selectedItems();
    publishSelection(selected);
    if (item.isDirectory() && selected.size() <= 1) {
        appendColumn(item.path());
        scrollToLastColumn();
    }
}

void ColumnBrowserViewController::columnDeselected(int column) {
    if (column < 0 || column >= m_columns.size())
        return;
    // Nothing selected in a column leaves nothing open after it: its folder is the one shown.
    m_columns[column].selectedRow.reset();
    truncateColumns(column);
    m_selectionColumn = column;
    publishSelection({});
}

void ColumnBrowserViewController::scrollToLastColumn() {
    QTimer::singleShot(0, this, [this] {
        if (!m_panels.isEmpty())
            showWhole(m_panels.last());
    });
}

void ColumnBrowserViewController::showWhole(ColumnPanelView* panel) {
    // The scroll area sizes the row of columns only when it handles its own layout request,
    // which comes later than this: until then a new column lies beyond the scroll range.
    m_containerView->layout()->activate();
    QEvent layoutRequest(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(m_scrollArea, &layoutRequest);
    m_scrollArea->ensureWidgetVisible(panel, 0, 0);
}

void ColumnBrowserViewController::focusColumn(int column) {
    ColumnPanelView* panel = m_panels.at(column);
    panel->tableView()->setFocus();
    // Only the keys scroll: a click that scrolled would move the rows under the pointer.
    showWhole(panel);
}

QList<URL> ColumnBrowserViewController::columnPathsFor(const QList<URL>& folders) {
    if (folders.isEmpty())
        return {};
    const URL& first = folders.first();
    const auto components = afcComponents(first);
    if (!components)
        return folders;
    QList<URL> prefix;
    const auto appendAncestor = [&](const URL& url) {
        if (url.absoluteString() != first.absoluteString())
            prefix.append(url);
    };
    appendAncestor(AFCLocation::mediaRoot(components->udid));
    const QStringList parts = components->devicePath.split(u'/', Qt::SkipEmptyParts);
    // Inside a container the ancestors start at its root; the bare ".app" folder above it is no
    // place anyone can list.
    if (components->bundleID)
        appendAncestor(AFCLocation::containerRoot(components->udid, *components->bundleID));
    for (qsizetype count = 1; count < parts.size(); ++count) {
        const QString path = QStringLiteral("/") + parts.first(count).join(u'/');
        appendAncestor(components->bundleID
                           ? AFCLocation::containerURL(components->udid, *components->bundleID, path)
                           : AFCLocation::mediaURL(components->udid, path));
    }
    return prefix + folders;
}

void ColumnBrowserViewController::updateColumnPaths() {
    // The title and the path bar name the folders of the browser on screen.
    if (!m_publishes)
        return;
    QList<URL> folders;
    for (const ColumnState& column : std::as_const(m_columns))
        folders.append(column.path);
    m_navigationState.columnPaths = columnPathsFor(folders);
}

void ColumnBrowserViewController::moveFocusRight(int column) {
    if (column < 0 || column >= m_columns.size() || column + 1 >= m_panels.size())
        return;
    const std::optional<int> row = m_columns.at(column).selectedRow;
    const QList<FileItem>& shown = m_panels.at(column)->items();
    if (!row || *row < 0 || *row >= shown.size() || !shown.at(*row).isDirectory())
        return;
    focusColumn(column + 1);
    ColumnPanelView* panel = m_panels.at(column + 1);
    ColumnTableView* next = panel->tableView();
    // The column entered selects its first row, so that Down goes on to the second; the row
    // selected reports itself as a click on it would (a folder opens its own column).
    if (!panel->items().isEmpty() && !panel->hasSelection())
        next->setCurrentIndex(panel->model()->index(0));
}

bool ColumnBrowserViewController::applyListing(int index, const URL& url, const QList<FileItem>& items) {
    // A listing that returns late for a column that has gone or now lists another folder is
    // dropped: it must never overwrite a newer column.
    if (index < 0 || index >= m_columns.size() || !(m_columns.at(index).path == url))
        return false;
    m_columns[index].items = items;
    m_columns[index].isLoading = false;
    m_columns[index].failed = false;
    Logger::ui().debug("Column %ld shows %s (%ld items)", index, url.absoluteString(), items.size());
    if (index == m_columns.size() - 1)
        publishContents(items);
    ColumnPanelView* panel = m_panels.at(index);
    panel->setLoading(false);
    panel->removeErrorPlaceholder();
    panel->setItems(filteredItems(items));
    if (items.isEmpty() && isInsideAppContainer(url))
        panel->showErrorPlaceholder(new ErrorPlaceholderView(
            QStringLiteral("lock.app.fill"), QStringLiteral("App Data Not Accessible"),
            QStringLiteral("The developer of this app has restricted access to its data.")));
    republishSelectionOf(index);
    return true;
}

bool ColumnBrowserViewController::applyListingFailure(int index, const URL& url, std::exception_ptr error) {
    Logger::filesystem().error("Column %ld load failed: %s", index, async::describeException(error));
    if (index < 0 || index >= m_columns.size() || !(m_columns.at(index).path == url))
        return false;
    m_columns[index].items.clear();
    m_columns[index].isLoading = false;
    m_columns[index].failed = true;
    // What is no longer listed can neither be counted nor stay selected.
    if (index == m_columns.size() - 1 && !m_contents.isEmpty())
        publishContents({});
    ColumnPanelView* panel = m_panels.at(index);
    panel->setLoading(false);
    panel->setItems({});
    panel->showErrorPlaceholder(ErrorPlaceholderView::forError(error));
    republishSelectionOf(index);
    return true;
}

URL ColumnBrowserViewController::renamedLocation(const URL& url, const URL& from, const URL& to) {
    if (url.isSameLocation(from))
        return to;
    if (!url.isBelow(from))
        return url;
    QString fromPath = from.path();
    if (!fromPath.endsWith(u'/'))
        fromPath += u'/';
    QString toPath = to.path();
    if (!toPath.endsWith(u'/'))
        toPath += u'/';
    return URL::fromComponents(url.scheme(), url.host(), toPath + url.path().mid(fromPath.size()));
}

void ColumnBrowserViewController::followRename(const URL& from, const URL& to) {
    // A renamed folder that is open keeps its column (and those inside it) under the new name.
    bool moved = false;
    for (int index = 0; index < m_columns.size(); ++index) {
        const URL renamed = renamedLocation(m_columns.at(index).path, from, to);
        if (renamed == m_columns.at(index).path)
            continue;
        m_columns[index].path = renamed;
        m_panels.at(index)->directoryPath = renamed;
        moved = true;
    }
    if (moved)
        updateColumnPaths();
    didChangeContents();
}

void ColumnBrowserViewController::didChangeContents() {
    refreshAllColumns();
    if (onContentsChanged)
        onContentsChanged();
}

void ColumnBrowserViewController::contentsChangedElsewhere() {
    if (m_publishes)
        refreshAllColumns();
    else
        m_stale = true;
}

void ColumnBrowserViewController::finishRelisting() {
    if (!m_awaitingRelisting)
        return;
    m_awaitingRelisting = false;
    setPublishesSharedState(m_publishes);
}

void ColumnBrowserViewController::closeVanishedColumns(int index) {
    if (index < 0 || index + 1 >= m_columns.size())
        return;
    const URL next = m_columns.at(index + 1).path;
    const QList<FileItem>& listed = m_columns.at(index).items;
    const auto found = std::find_if(listed.cbegin(), listed.cend(), [&next](const FileItem& item) {
        return item.isDirectory() && item.path().isSameLocation(next);
    });
    if (found == listed.cend()) {
        // Deleted, moved away or renamed elsewhere: its column and those after it go, and with
        // them whatever was selected there.
        Logger::ui().debug("Column %ld's folder %s is gone", index + 1, next.absoluteString());
        const bool selectionGoes = m_selectionColumn > index;
        truncateColumns(index);
        if (selectionGoes && !m_selection.isEmpty())
            publishSelection({});
        return;
    }
    // The folder whose column is open stays selected in the column before it.
    ColumnPanelView* panel = m_panels.at(index);
    if (panel->selectedItems().isEmpty()) {
        const int row = panel->model()->rowOf(found->path());
        if (row >= 0) {
            panel->model()->reselect(panel->tableView()->selectionModel(), {found->path()});
            m_columns[index].selectedRow = row;
        }
    }
}

void ColumnBrowserViewController::refreshAllColumns() {
    if (m_columns.isEmpty())
        return;
    Self self(this);
    auto provider = m_fileSystemProvider;
    const quint64 relisting = ++m_relisting;
    startTask(async::spawn([self, provider, relisting](std::stop_token token) {
        return refreshColumns(self, provider, relisting, token);
    }));
}

// --- commands ---

ColumnTableView* ColumnBrowserViewController::keyView() const {
    if (m_panels.isEmpty())
        return nullptr;
    for (ColumnPanelView* panel : m_panels) {
        if (panel->tableView()->hasFocus())
            return panel->tableView();
    }
    if (m_selectionColumn >= 0 && m_selectionColumn < m_panels.size())
        return m_panels.at(m_selectionColumn)->tableView();
    return m_panels.last()->tableView();
}

int ColumnBrowserViewController::focusedColumn(bool forRename) const {
    for (int index = int(m_panels.size()) - 1; index >= 0; --index) {
        if (m_panels.at(index)->tableView()->hasFocus())
            return index;
    }
    if (!forRename)
        return int(m_panels.size()) - 1;
    for (int index = int(m_panels.size()) - 1; index >= 0; --index) {
        if (m_panels.at(index)->hasSelection())
            return index;
    }
    return -1;
}

bool ColumnBrowserViewController::canPaste() const {
    const int column = focusedColumn();
    if (column < 0 || !clipboardManager)
        return false;
    return clipboardManager->canPaste(m_panels.at(column)->directoryPath);
}

void ColumnBrowserViewController::copyItems(const QList<FileItem>& items, bool cut) {
    if (items.isEmpty() || !clipboardManager)
        return;
    clipboardManager->items = items;
    clipboardManager->mode = cut ? ClipboardManager::Mode::cut : ClipboardManager::Mode::copy;
    Logger::ui().debug("%s %ld items in the columns", cut ? "Cut" : "Copied", items.size());
}

void ColumnBrowserViewController::copySelection() {
    copyItems(m_selection, false);
}

void ColumnBrowserViewController::cutSelection() {
    copyItems(m_selection, true);
}

void ColumnBrowserViewController::paste() {
    const int column = focusedColumn();
    if (column < 0)
        return;
    pasteInto(m_panels.at(column)->directoryPath);
}

void ColumnBrowserViewController::pasteInto(const URL& folder) {
    Self self(this);
    ClipboardManager* clipboard = clipboardManager;
    startTask(async::spawn([self, clipboard, folder](std::stop_token token) {
        return runPaste(self, clipboard, folder, token);
    }));
}

void ColumnBrowserViewController::selectAllItems() {
    const int column = focusedColumn();
    if (column < 0)
        return;
    ColumnPanelView* panel = m_panels.at(column);
    const quint64 published = m_selectionPublishes;
    panel->tableView()->selectAll();
    // A selection that changed was published by the column's own handler, which also cut the
    // columns back (the panel itself stays); a second list of every row would only cost. One
    // that did not change (all selected already) is published here.
    if (m_selectionColumn == column && m_selectionPublishes != published)
        return;
    m_selectionColumn = column;
    publishSelection(panel->selectedItems());
}

void ColumnBrowserViewController::renameSelection() {
    const int column = focusedColumn(true);
    if (column < 0)
        return;
    ColumnPanelView* panel = m_panels.at(column);
    const QList<int> rows = panel->selectedRows();
    if (rows.isEmpty() || rows.first() >= panel->items().size())
        return;
    panel->beginRename(panel->items().at(rows.first()));
}

QString ColumnBrowserViewController::duplicateName(const QString& name) {
    const auto [base, extension] = splitExtension(name);
    return extension.isEmpty() ? base + QStringLiteral(" copy") : base + QStringLiteral(" copy.") + extension;
}

QString ColumnBrowserViewController::uniqueDuplicateName(const QString& name, const URL& folder) {
    if (folder.scheme() != u"file")
        return duplicateName(name);
    const auto [base, extension] = splitExtension(name);
    const QString folderPath = folder.toLocalFile();
    const auto taken = [&folderPath](const QString& candidate) {
        // A dangling symbolic link takes its name too.
        const QFileInfo info(QDir(folderPath).filePath(candidate));
        return info.exists() || info.isSymLink();
    };
    QString candidate = name;
    for (int n = 1; taken(candidate); ++n) {
        candidate = base + QStringLiteral(" copy") + (n == 1 ? QString() : QStringLiteral(" %1").arg(n)) +
                    (extension.isEmpty() ? QString() : QStringLiteral(".") + extension);
    }
    return candidate;
}

void ColumnBrowserViewController::duplicateSelection() {
    duplicateItems(m_selection);
}

void ColumnBrowserViewController::duplicateItems(const QList<FileItem>& items) {
    if (items.isEmpty() || !m_transferManager)
        return;
    startTask(async::spawn(
        [items, provider = m_fileSystemProvider, transfers = m_transferManager](std::stop_token token) {
            return Duplicates::duplicate(items, provider, transfers, token);
        }));
}

QString ColumnBrowserViewController::deleteQuestion(const QList<FileItem>& items) {
    QStringList names;
    for (qsizetype i = 0; i < std::min<qsizetype>(3, items.size()); ++i)
        names.append(items.at(i).name());
    QString text = QStringLiteral("Delete \"") + names.join(QStringLiteral(", "));
    if (items.size() > 3)
        text += QStringLiteral(" and %1 more").arg(items.size() - 3);
    return text + QStringLiteral("\"?");
}

void ColumnBrowserViewController::deleteSelection() {
    deleteItems(m_selection);
}

void ColumnBrowserViewController::deleteItems(const QList<FileItem>& items) {
    if (items.isEmpty())
        return;
    const bool askFirst = items.first().path().scheme() == u"afc";
    if (!m_alertPresenter)
        m_alertPresenter = std::make_shared<DialogAlertPresenter>();
    Self self(this);
    auto provider = m_fileSystemProvider;
    auto presenter = m_alertPresenter;
    startTask(async::spawn([self, provider, presenter, items, askFirst](std::stop_token token) {
        return runDeletion(self, provider, presenter, items, askFirst, token);
    }));
}
