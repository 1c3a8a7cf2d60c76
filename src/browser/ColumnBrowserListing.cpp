// The column browser's listings: a new column lists its folder, answers that come too late for
// their column are dropped, and after a change every column lists again, one after the other,
// closing the columns of folders that have gone and following a renamed folder.

#include "browser/ColumnBrowserViewController.h"

#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "browser/ErrorPlaceholderView.h"
#include "browser/FileItemListModel.h"
#include "device/AFCComponents.h"
#include "platform/Logger.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "services/FileSystemProvider.h"

namespace {

using Self = QPointer<ColumnBrowserViewController>;

bool isInsideAppContainer(const URL& url) {
    const auto components = afcComponents(url);
    return components && components->bundleID;
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

} // namespace

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

void ColumnBrowserViewController::didChangeContents(const std::optional<URL>& into) {
    QList<URL> shown;
    for (const ColumnState& column : std::as_const(m_columns))
        shown.append(column.path);
    // A change into a folder no column shows (a paste or drop on its row) changed no shown
    // folder's entries: the columns list themselves.
    if (into && std::none_of(shown.cbegin(), shown.cend(),
                             [&into](const URL& path) { return path.isSameLocation(*into); }))
        shown.clear();
    if (onContentsChanged && !shown.isEmpty() && onContentsChanged(shown))
        return;
    refreshAllColumns();
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
