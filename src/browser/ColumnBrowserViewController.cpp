#include "browser/FileItemListModel.h"
#include "browser/ColumnBrowserViewController.h"

#include "browser/BrowserNotices.h"
#include "browser/BrowserText.h"
#include "browser/ColumnDividerView.h"
#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "browser/DragAndDropHandler.h"
#include "browser/DropAcceptingScrollView.h"
#include "device/AFCComponents.h"
#include "device/AFCLocation.h"
#include "platform/Logger.h"
#include "platform/UiTimerSource.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"
#include "uikit/FolderChooser.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>

namespace {

using Self = QPointer<ColumnBrowserViewController>;

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
    BrowserNotices notices;
    notices.onPath = [this](const std::optional<URL>& path) {
        // None leaves the columns as they are, and so does the same folder again while it is
        // the only column. Shown again once the columns went deeper (its sidebar row or path
        // bar segment clicked), it is the only column once more.
        if (!path)
            return;
        if (m_shownPath == path && m_columns.size() == 1 && m_columns.first().path == *path)
            return;
        m_shownPath = path;
        resetColumns(*path);
    };
    notices.onSearch = [this] {
        applySearchFilter();
    };
    notices.onDeviceFilesChanged = [this] {
        refreshAllColumns();
    };
    notices.follow(this, m_navigationState, m_cancellables);
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
    // The folder left is no longer counted while the new one waits for its listing.
    if (!m_contents.isEmpty())
        publishContents({});
    appendColumn(url);
    m_scrollArea->horizontalScrollBar()->setValue(0);
    if (takeFocus)
        m_panels.first()->tableView()->setFocus();
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
    panel->onDropCompleted = [self](const URL& into) {
        if (self)
            self->didChangeContents(into);
    };
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
