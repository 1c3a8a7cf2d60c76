// Drags and drops in the list and icon browsers: where a drop would go and what it would do,
// the highlight that shows it while a drag hovers, taking the drop (resolving the dropped
// locations to items first) and starting a drag of the selection out of the view.

#include "browser/FlatBrowserController.h"

#include "browser/DragAndDropHandler.h"
#include "browser/DragOutProduction.h"
#include "browser/FileItemListModel.h"
#include "platform/Logger.h"
#include "platform/UiTimerSource.h"
#include "platform/UniformType.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "services/FileSystemProvider.h"
#include "transfer/TransferManager.h"

#include <QAbstractItemView>
#include <QFileInfo>

namespace {

using Self = QPointer<FlatBrowserController>;

void didChangeContents(const Self& self, const URL& into) {
    if (self)
        self->didChangeContents(into);
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
    didChangeContents(self, plan.target);
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
