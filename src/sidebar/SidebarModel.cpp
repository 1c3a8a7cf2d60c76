#include "sidebar/SidebarModel.h"

#include "uikit/Colours.h"
#include "uikit/Fonts.h"
#include "uikit/Symbols.h"

#include <QGuiApplication>
#include <QPalette>
#include <QSize>

SidebarModel::SidebarModel(QObject* parent) : QAbstractItemModel(parent) {}

SidebarModel::~SidebarModel() = default;

SidebarItem* SidebarModel::itemFor(const QModelIndex& index) const {
    return index.isValid() ? static_cast<SidebarItem*>(index.internalPointer()) : nullptr;
}

std::shared_ptr<SidebarItem> SidebarModel::itemAt(const QModelIndex& index) const {
    SidebarItem* item = itemFor(index);
    if (!item)
        return nullptr;
    const auto& siblings = childrenOf(item->parent());
    const int row = SidebarItem::indexIn(siblings, item);
    return row < 0 ? nullptr : siblings[size_t(row)];
}

const std::vector<std::shared_ptr<SidebarItem>>& SidebarModel::childrenOf(const SidebarItem* item) const {
    return item ? item->children() : m_rootItems;
}

int SidebarModel::rowOf(const SidebarItem* item) const {
    return SidebarItem::indexIn(childrenOf(item->parent()), item);
}

QModelIndex SidebarModel::indexFor(const SidebarItem* item) const {
    if (!item)
        return {};
    // Only an item whose chain of parents ends in the root list is shown.
    const SidebarItem* top = item;
    while (top->parent())
        top = top->parent();
    if (SidebarItem::indexIn(m_rootItems, top) < 0)
        return {};
    const int row = rowOf(item);
    return row < 0 ? QModelIndex() : createIndex(row, 0, const_cast<SidebarItem*>(item));
}

void SidebarModel::setRootItems(std::vector<std::shared_ptr<SidebarItem>> items) {
    beginResetModel();
    m_rootItems = std::move(items);
    endResetModel();
}

void SidebarModel::insertRootItem(int row, std::shared_ptr<SidebarItem> item) {
    row = std::clamp(row, 0, int(m_rootItems.size()));
    beginInsertRows({}, row, row);
    m_rootItems.insert(m_rootItems.begin() + row, std::move(item));
    endInsertRows();
}

void SidebarModel::removeRootItem(int row) {
    if (row < 0 || row >= int(m_rootItems.size()))
        return;
    beginRemoveRows({}, row, row);
    m_rootItems.erase(m_rootItems.begin() + row);
    endRemoveRows();
}

void SidebarModel::replaceChildren(SidebarItem* parent, std::vector<std::shared_ptr<SidebarItem>> children) {
    const QModelIndex parentIndex = indexFor(parent);
    if (!parentIndex.isValid()) {
        parent->setChildren(std::move(children));
        return;
    }
    if (!parent->children().empty()) {
        beginRemoveRows(parentIndex, 0, int(parent->children().size()) - 1);
        parent->setChildren({});
        endRemoveRows();
    }
    if (!children.empty()) {
        beginInsertRows(parentIndex, 0, int(children.size()) - 1);
        parent->setChildren(std::move(children));
        endInsertRows();
    }
}

void SidebarModel::insertChild(SidebarItem* parent, int row, std::shared_ptr<SidebarItem> child) {
    row = std::clamp(row, 0, int(parent->children().size()));
    const QModelIndex parentIndex = indexFor(parent);
    if (!parentIndex.isValid()) {
        parent->insertChild(size_t(row), std::move(child));
        return;
    }
    beginInsertRows(parentIndex, row, row);
    parent->insertChild(size_t(row), std::move(child));
    endInsertRows();
}

QModelIndex SidebarModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0)
        return {};
    if (parent.isValid() && parent.column() != 0)
        return {};
    const auto& children = childrenOf(itemFor(parent));
    if (row >= int(children.size()))
        return {};
    return createIndex(row, 0, children[size_t(row)].get());
}

QModelIndex SidebarModel::parent(const QModelIndex& child) const {
    SidebarItem* item = itemFor(child);
    if (!item || !item->parent())
        return {};
    SidebarItem* parentItem = item->parent();
    const int row = rowOf(parentItem);
    return row < 0 ? QModelIndex() : createIndex(row, 0, parentItem);
}

int SidebarModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return int(childrenOf(itemFor(parent)).size());
}

int SidebarModel::columnCount(const QModelIndex&) const {
    return 1;
}

bool SidebarModel::hasChildren(const QModelIndex& parent) const {
    const SidebarItem* item = itemFor(parent);
    // An Apps row can always be opened: its apps are listed when it opens.
    if (item && item->kind() == SidebarItem::Kind::appsFolder)
        return true;
    return rowCount(parent) > 0;
}

QVariant SidebarModel::data(const QModelIndex& index, int role) const {
    const SidebarItem* item = itemFor(index);
    if (!item)
        return {};
    const bool isHeader = item->kind() == SidebarItem::Kind::header;
    const std::optional<SidebarItem::Symbol> symbol = isHeader ? std::nullopt : item->shownSymbol();
    switch (role) {
    case Qt::DisplayRole:
        return item->title();
    case Qt::DecorationRole:
        return symbol ? QVariant(Symbols::icon(symbol->name)) : QVariant();
    case Qt::ToolTipRole:
        if (item->kind() == SidebarItem::Kind::deviceBookmark && tooltipProvider) {
            const QString tip = tooltipProvider(*item);
            return tip.isEmpty() ? QVariant() : QVariant(tip);
        }
        return {};
    case Qt::FontRole:
        return isHeader ? Fonts::system(11, Fonts::Weight::semibold) : Fonts::system(13);
    case Qt::ForegroundRole: {
        const QPalette palette = QGuiApplication::palette();
        if (isHeader)
            return Colours::secondaryLabel(palette);
        return item->isAvailable() ? Colours::label(palette) : Colours::tertiaryLabel(palette);
    }
    case Qt::SizeHintRole:
        return QSize(-1, isHeader ? headerRowHeight : rowHeight);
    case SymbolNameRole:
        return symbol ? symbol->name : QString();
    case SymbolDescriptionRole:
    case Qt::AccessibleDescriptionRole:
        return symbol ? symbol->accessibilityDescription : QString();
    case AlphaRole:
        return item->isAvailable() ? 1.0 : 0.4;
    case IsHeaderRole:
        return isHeader;
    case KindRole:
        return int(item->kind());
    case UrlRole: {
        const std::optional<URL> url = item->url();
        return url ? url->absoluteString() : QString();
    }
    default:
        return {};
    }
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex& index) const {
    const SidebarItem* item = itemFor(index);
    if (!item)
        return Qt::NoItemFlags;
    switch (item->kind()) {
    case SidebarItem::Kind::header:
    case SidebarItem::Kind::appsFolder:
        return Qt::ItemIsEnabled;
    default:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    }
}

bool SidebarModel::canFetchMore(const QModelIndex& parent) const {
    const SidebarItem* item = itemFor(parent);
    return item && item->kind() == SidebarItem::Kind::appsFolder && item->children().empty() && canListApps &&
           canListApps(*item);
}

void SidebarModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent) || !listApps)
        return;
    if (auto item = itemAt(parent))
        listApps(std::move(item));
}
