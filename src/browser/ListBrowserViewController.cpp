#include "browser/ListBrowserViewController.h"

#include "browser/CutDimmingDelegate.h"
#include "browser/FileItemListModel.h"
#include "browser/FlatItemView.h"
#include "platform/DateFormat.h"
#include "platform/Logger.h"
#include "platform/NaturalOrder.h"
#include "uikit/Fonts.h"
#include "uikit/ItemViewFocus.h"

#include <QDateTime>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableView>

#include <algorithm>

namespace {

using Column = ListBrowserViewController::Column;

// The one item model, read as four columns.
class ListTableModel : public FileItemListModel {
public:
    using FileItemListModel::FileItemListModel;

    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : ListBrowserViewController::columnCount;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return FileItemListModel::headerData(section, orientation, role);
        switch (section) {
        case ListBrowserViewController::nameColumn:
            return QStringLiteral("Name");
        case ListBrowserViewController::dateColumn:
            return QStringLiteral("Date Modified");
        case ListBrowserViewController::sizeColumn:
            return QStringLiteral("Size");
        case ListBrowserViewController::kindColumn:
            return QStringLiteral("Kind");
        default:
            return {};
        }
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.column() == ListBrowserViewController::nameColumn)
            return FileItemListModel::data(index, role);
        const QModelIndex nameIndex = this->index(index.row(), 0);
        // Every cell of a row is drawn at the row's alpha and carries its item.
        if (role == AlphaRole || role == FileItemRole || role == PathRole)
            return FileItemListModel::data(nameIndex, role);
        const std::optional<FileItem> item = this->item(index.row());
        if (!item)
            return {};
        if (role == Qt::TextAlignmentRole && index.column() == ListBrowserViewController::sizeColumn)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole)
            return {};
        switch (index.column()) {
        case ListBrowserViewController::dateColumn:
            return DateFormat::mediumShort(item->modifiedDate());
        case ListBrowserViewController::sizeColumn:
            return item->isDirectory() ? QStringLiteral("--")
                                       : FileItemListModel::data(nameIndex, SizeTextRole).toString();
        case ListBrowserViewController::kindColumn: {
            QString kind = item->kind().rawValue();
            if (!kind.isEmpty())
                kind[0] = kind[0].toUpper();
            return kind;
        }
        default:
            return {};
        }
    }
};

class ListCellDelegate : public CutDimmingDelegate {
public:
    using CutDimmingDelegate::CutDimmingDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        CutDimmingDelegate::initStyleOption(option, index);
        if (index.column() == ListBrowserViewController::nameColumn)
            option->icon = FlatBrowserController::itemIcon(index);
    }
};

class ListTableView : public FlatItemView<QTableView> {
public:
    using FlatItemView::FlatItemView;

    std::function<void()> onResized;

protected:
    void resizeEvent(QResizeEvent* event) override {
        FlatItemView::resizeEvent(event);
        if (onResized)
            onResized();
    }

    // The middle of a row is a drop onto it; its top and bottom edges, and below the last row,
    // are drops between rows.
    std::pair<int, bool> dropTarget(const QPoint& point) const override {
        const int row = rowAt(point.y());
        if (row < 0)
            return {-1, false};
        const int top = rowViewportPosition(row);
        const int height = rowHeight(row);
        const int edge = std::max(2, height / 4);
        return {row, point.y() >= top + edge && point.y() < top + height - edge};
    }
};

} // namespace

ListBrowserViewController::ListBrowserViewController(std::shared_ptr<FileSystemProvider> fileSystemProvider,
                                                     NavigationState& navigationState,
                                                     std::shared_ptr<TransferManager> transferManager,
                                                     FavoritesManager* favoritesManager,
                                                     ClipboardManager* clipboardManager, QWidget* parent)
    : FlatBrowserController(std::move(fileSystemProvider), navigationState, std::move(transferManager),
                            favoritesManager, clipboardManager, parent) {
    setObjectName(QStringLiteral("listBrowserView"));
    auto* table = new ListTableView;
    table->setObjectName(QStringLiteral("listTableView"));
    table->controller = this;
    table->setItemDelegate(new ListCellDelegate(table));
    table->setAlternatingRowColors(true);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideRight);
    table->setIconSize(QSize(16, 16));
    table->setFont(Fonts::system(12));
    table->setFrameShape(QFrame::NoFrame);
    table->setFocusPolicy(Qt::StrongFocus);
    // Tab leaves the list for the window's next part, as it leaves the other views.
    table->setTabKeyNavigation(false);
    ItemViewFocus::install(table);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    table->setDragEnabled(true);
    table->setAcceptDrops(true);
    table->viewport()->setAcceptDrops(true);
    table->setDragDropMode(QAbstractItemView::DragDrop);
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setMinimumSectionSize(rowHeight);
    table->verticalHeader()->setDefaultSectionSize(rowHeight);
    attachItemView(table, new ListTableModel(this), &table->keys);

    // Sorting is ours: Qt's own would sort at once and re-sort every new listing.
    QHeaderView* header = table->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSectionsMovable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < columnCount; ++column)
        header->resizeSection(column, initialWidth(Column(column)));
    connect(header, &QHeaderView::sectionClicked, this, &ListBrowserViewController::headerClicked);
    connect(header, &QHeaderView::sectionResized, this, [this, header](int logical, int, int newSize) {
        if (logical == nameColumn && newSize < nameMinimumWidth) {
            header->resizeSection(nameColumn, nameMinimumWidth);
            return;
        }
        if (m_fittingColumns)
            return;
        // A width the user gives Name stands, and is the one it comes back to when the view
        // grows again.
        if (logical == nameColumn) {
            m_nameWidth = newSize;
            return;
        }
        fitColumns();
    });
    table->onResized = [this] {
        fitColumns();
    };
}

void ListBrowserViewController::fitColumns() {
    // Name gives way, down to its minimum, so that Kind is not pushed behind a scroll bar in a
    // narrow window; the other columns keep their widths.
    QTableView* table = tableView();
    QHeaderView* header = table->horizontalHeader();
    int others = 0;
    for (int column = 0; column < columnCount; ++column) {
        if (column != nameColumn && !header->isSectionHidden(column))
            others += header->sectionSize(column);
    }
    const int room = table->viewport()->width() - others;
    const int wanted = std::clamp(room, int(nameMinimumWidth), std::max(m_nameWidth, int(nameMinimumWidth)));
    if (header->sectionSize(nameColumn) == wanted)
        return;
    m_fittingColumns = true;
    header->resizeSection(nameColumn, wanted);
    m_fittingColumns = false;
}

QTableView* ListBrowserViewController::tableView() const {
    return static_cast<QTableView*>(itemView());
}

int ListBrowserViewController::initialWidth(Column column) {
    switch (column) {
    case nameColumn:
        return 300;
    case dateColumn:
        return dateColumnWidth();
    case sizeColumn:
        return 90;
    default:
        return 100;
    }
}

int ListBrowserViewController::dateColumnWidth() {
    // Wide enough for the longest date the format gives in the list's font (month names, AM and
    // PM differ in width; two-digit days and hours are the longest), never narrower than the
    // usual 160.
    static const int width = [] {
        const QFontMetrics metrics(Fonts::system(12));
        int widest = 0;
        for (int month = 1; month <= 12; ++month) {
            for (const QTime time : {QTime(10, 58), QTime(22, 58)}) {
                const Date date = Date::fromQDateTime(QDateTime(QDate(2024, month, 28), time));
                widest = std::max(widest, metrics.horizontalAdvance(DateFormat::mediumShort(date)));
            }
        }
        return std::max(160, widest + dateCellPadding);
    }();
    return width;
}

bool ListBrowserViewController::compareItems(const FileItem& a, const FileItem& b,
                                             const SortDescriptor& descriptor) {
    switch (descriptor.column) {
    case nameColumn: {
        const int order = naturalCompare(a.name(), b.name());
        return descriptor.ascending ? order < 0 : order > 0;
    }
    case dateColumn:
        return descriptor.ascending ? a.modifiedDate() < b.modifiedDate()
                                    : a.modifiedDate() > b.modifiedDate();
    case sizeColumn:
        return descriptor.ascending ? a.size() < b.size() : a.size() > b.size();
    default:
        return false;
    }
}

void ListBrowserViewController::headerClicked(int column) {
    if (column < nameColumn || column >= kindColumn) {
        // Kind does not sort; the header may have moved its indicator on the click all the same.
        showSortIndicator();
        return;
    }
    SortDescriptor descriptor;
    descriptor.column = Column(column);
    if (m_sort && m_sort->column == descriptor.column)
        descriptor.ascending = !m_sort->ascending;
    else
        // Names start from A, dates from the newest, sizes from the largest.
        descriptor.ascending = descriptor.column == nameColumn;
    m_sort = descriptor;
    showSortIndicator();
    std::stable_sort(
        m_allItems.begin(), m_allItems.end(),
        [&descriptor](const FileItem& a, const FileItem& b) { return compareItems(a, b, descriptor); });
    applyFilter();
    Logger::ui().debug("List view sorted by %s, %s",
                       tableView()->model()->headerData(column, Qt::Horizontal).toString(),
                       descriptor.ascending ? "ascending" : "descending");
}

void ListBrowserViewController::didShowListing() {
    // Where the pointer finds the Size header and the first row, for scripts that drive the
    // window from outside (no key sorts or opens a folder in the list).
    QTableView* table = tableView();
    if (!table->isVisible())
        return;
    QHeaderView* header = table->horizontalHeader();
    const QPoint size = header->mapTo(
        window(), QPoint(header->sectionViewportPosition(sizeColumn) + header->sectionSize(sizeColumn) / 2,
                         header->height() / 2));
    const QPoint firstRow =
        table->viewport()->mapTo(window(), QPoint(initialWidth(nameColumn) / 2, rowHeight / 2));
    Logger::ui().debug("List view: Size header at %d,%d, first row at %d,%d, rows %d apart", size.x(),
                       size.y(), firstRow.x(), firstRow.y(),
                       table->rowHeight(0) > 0 ? table->rowHeight(0) : rowHeight);
}

void ListBrowserViewController::showSortIndicator() {
    QHeaderView* header = tableView()->horizontalHeader();
    const QSignalBlocker blocker(header);
    if (m_sort)
        header->setSortIndicator(m_sort->column,
                                 m_sort->ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    else
        header->setSortIndicator(-1, Qt::AscendingOrder);
}
