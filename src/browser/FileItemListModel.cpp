#include "browser/FileItemListModel.h"

#include "platform/ByteCountFormatter.h"
#include "platform/async/ReleaseElsewhere.h"
#include "uikit/Symbols.h"

#include <QHash>
#include <QItemSelectionModel>
#include <QMimeDatabase>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

QMimeType mimeTypeOf(const FileItem& item) {
    static const QMimeDatabase database;
    if (item.uti())
        return database.mimeTypeForName(item.uti()->identifier());
    return {};
}

} // namespace

FileItemListModel::FileItemListModel(QObject* parent) : QAbstractListModel(parent) {}

int FileItemListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_items.size());
}

Qt::ItemFlags FileItemListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

QVariant FileItemListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= m_items.size())
        return {};
    const FileItem& item = m_items.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return item.name();
    case Qt::DecorationRole:
        return icon(item);
    case FileItemRole:
        return QVariant::fromValue(std::optional<FileItem>(item));
    case AlphaRole:
        return m_cutURLs.contains(item.path()) ? cutAlpha : 1.0;
    case SizeTextRole:
        return item.isDirectory() ? QString() : ByteCountFormatter::file(item.size());
    case KindTextRole:
        if (item.isDirectory())
            return QStringLiteral("Folder");
        return item.uti() ? item.uti()->localizedDescription() : QStringLiteral("Document");
    case SymbolNameRole:
        return symbolName(item);
    case PathRole:
        return item.path().absoluteString();
    default:
        return {};
    }
}

void FileItemListModel::setItems(QList<FileItem> items) {
    // The rows the new list starts and ends with as the old one did stay: a folder listed again
    // while a copy fills it changes a few hundred rows of 100,000, and a reset would make the
    // views build every row again at once (and drop the current row).
    const qsizetype oldCount = m_items.size();
    const qsizetype newCount = items.size();
    qsizetype head = 0;
    while (head < oldCount && head < newCount && sameItem(m_items.at(head), items.at(head)))
        ++head;
    qsizetype tail = 0;
    while (tail < oldCount - head && tail < newCount - head &&
           sameItem(m_items.at(oldCount - 1 - tail), items.at(newCount - 1 - tail)))
        ++tail;
    const qsizetype removed = oldCount - head - tail;
    const qsizetype inserted = newCount - head - tail;
    // Little in common (another folder, another order): a reset costs least.
    // The list shown before is often the last copy of the folder's previous listing: freeing
    // 100,000 records is left to another thread.
    QList<FileItem> previous = m_items;
    if (head + tail == 0 || removed + inserted > head + tail) {
        beginResetModel();
        m_items = std::move(items);
        endResetModel();
        async::releaseElsewhere(std::move(previous));
        return;
    }
    if (removed > 0) {
        beginRemoveRows({}, int(head), int(head + removed - 1));
        m_items.remove(head, removed);
        endRemoveRows();
    }
    // What is left is the new list's head and tail: with the rows between it is the new list, whose
    // records (the same facts) also take the place of the rows that stayed.
    if (inserted > 0)
        beginInsertRows({}, int(head), int(head + inserted - 1));
    m_items = std::move(items);
    if (inserted > 0)
        endInsertRows();
    async::releaseElsewhere(std::move(previous));
}

QList<int> FileItemListModel::showItems(QList<FileItem> items, QItemSelectionModel* selection,
                                        const QList<URL>& selectedPaths) {
    const QSignalBlocker blocker(selection);
    setItems(std::move(items));
    return reselect(selection, selectedPaths);
}

QList<int> FileItemListModel::showItems(QList<FileItem> items, QItemSelectionModel* selection,
                                        const QList<FileItem>& selected) {
    const QSignalBlocker blocker(selection);
    setItems(std::move(items));
    return reselect(selection, selected);
}

std::optional<FileItem> FileItemListModel::item(int row) const {
    if (row < 0 || row >= m_items.size())
        return std::nullopt;
    return m_items.at(row);
}

int FileItemListModel::rowOf(const URL& path) const {
    for (int row = 0; row < m_items.size(); ++row) {
        if (m_items.at(row).path() == path)
            return row;
    }
    return -1;
}

void FileItemListModel::setCutURLs(QSet<URL> urls) {
    const QSet<URL> previous = std::exchange(m_cutURLs, std::move(urls));
    for (int row = 0; row < m_items.size(); ++row) {
        const URL& path = m_items.at(row).path();
        if (previous.contains(path) != m_cutURLs.contains(path)) {
            const QModelIndex changed = index(row);
            emit dataChanged(changed, changed, {AlphaRole});
        }
    }
}

QList<int> FileItemListModel::reselect(QItemSelectionModel* selection, const QList<URL>& paths) const {
    return reselectBy(selection, paths.size(), [&paths](qsizetype at) -> const URL& { return paths.at(at); });
}

QList<int> FileItemListModel::reselect(QItemSelectionModel* selection, const QList<FileItem>& items) const {
    return reselectBy(selection, items.size(),
                      [&items](qsizetype at) -> const URL& { return items.at(at).path(); });
}

QList<int> FileItemListModel::reselectBy(QItemSelectionModel* selection, qsizetype count,
                                         const std::function<const URL&(qsizetype)>& pathAt) const {
    QList<int> rows;
    if (!selection)
        return rows;
    // Nothing to find, or nowhere to find it (a folder left with everything selected): no table
    // of every row is built, and no selected path is looked up.
    if (count == 0 || m_items.isEmpty()) {
        const QSignalBlocker blocker(selection);
        selection->clearSelection();
        return rows;
    }
    QHash<URL, int> rowByPath;
    rowByPath.reserve(m_items.size());
    for (int row = int(m_items.size()) - 1; row >= 0; --row)
        rowByPath.insert(m_items.at(row).path(), row);
    std::vector<bool> taken(size_t(m_items.size()), false);
    for (qsizetype at = 0; at < count; ++at) {
        const auto found = rowByPath.constFind(pathAt(at));
        if (found == rowByPath.constEnd() || taken[size_t(*found)])
            continue;
        taken[size_t(*found)] = true;
        rows.append(*found);
    }
    std::sort(rows.begin(), rows.end());
    const QSignalBlocker blocker(selection);
    selection->select(rowRuns(this, rows), QItemSelectionModel::ClearAndSelect);
    return rows;
}

QItemSelection FileItemListModel::rowRuns(const QAbstractItemModel* model, const QList<int>& rows) {
    QItemSelection runs;
    const int lastColumn = std::max(0, model->columnCount() - 1);
    for (qsizetype start = 0; start < rows.size();) {
        qsizetype end = start;
        while (end + 1 < rows.size() && rows.at(end + 1) == rows.at(end) + 1)
            ++end;
        runs.append(
            QItemSelectionRange(model->index(rows.at(start), 0), model->index(rows.at(end), lastColumn)));
        start = end + 1;
    }
    return runs;
}

QList<int> FileItemListModel::selectedRows(const QItemSelectionModel* selection) const {
    QList<int> result;
    if (!selection)
        return result;
    // Read from the ranges: a Select All of many rows is one range, where asking for the selected
    // indexes builds one index a row and column before a single item is found.
    const QItemSelection ranges = selection->selection();
    std::vector<std::pair<int, int>> runs;
    runs.reserve(size_t(ranges.size()));
    for (const QItemSelectionRange& range : ranges) {
        if (range.model() != this || range.parent().isValid())
            continue;
        const int last = std::min(range.bottom(), int(m_items.size()) - 1);
        if (range.top() <= last)
            runs.emplace_back(range.top(), last);
    }
    // Ranges may overlap (several columns of a row, or a merge of clicks): each row counts once.
    std::sort(runs.begin(), runs.end());
    int next = 0;
    for (const auto& [top, bottom] : runs) {
        for (int row = std::max(top, next); row <= bottom; ++row)
            result.append(row);
        next = std::max(next, bottom + 1);
    }
    return result;
}

QList<FileItem> FileItemListModel::selectedItems(const QItemSelectionModel* selection) const {
    const QList<int> rows = selectedRows(selection);
    QList<FileItem> result;
    result.reserve(rows.size());
    for (int row : rows)
        result.append(m_items.at(row));
    return result;
}

bool FileItemListModel::sameItem(const FileItem& a, const FileItem& b) {
    return a.sharesFactsWith(b) ||
           (a == b && a.name() == b.name() && a.path() == b.path() && a.size() == b.size() &&
            a.modifiedDate() == b.modifiedDate() && a.isDirectory() == b.isDirectory());
}

bool FileItemListModel::sameItems(const QList<FileItem>& a, const QList<FileItem>& b) {
    if (a.size() != b.size())
        return false;
    if (a.isSharedWith(b))
        return true;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!sameItem(a[i], b[i]))
            return false;
    }
    return true;
}

QString FileItemListModel::symbolName(const FileItem& item) {
    if (item.isDirectory())
        return QStringLiteral("folder");
    const QMimeType type = mimeTypeOf(item);
    return type.isValid() ? type.iconName() : QStringLiteral("application-octet-stream");
}

QIcon FileItemListModel::icon(const FileItem& item) {
    static QHash<QString, QIcon> cache;
    const QString name = symbolName(item);
    const auto cached = cache.constFind(name);
    if (cached != cache.constEnd())
        return *cached;
    // The theme's icon for the type, else its generic one, else our own drawing: a row without an
    // icon would also put its text where a rename field expects the icon.
    const QIcon result =
        Symbols::fileTypeIcon(item.isDirectory() ? QString() : mimeTypeOf(item).name(), item.isDirectory());
    cache.insert(name, result);
    return result;
}
