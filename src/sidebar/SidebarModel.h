#pragma once

#include "sidebar/SidebarItem.h"

#include <QAbstractItemModel>

#include <functional>
#include <memory>
#include <vector>

// The sidebar's rows as an item model: the section headers at the top level, every other row below
// one. The model owns the tree; the sidebar controller changes it only through the operations
// below, each of which tells the views exactly what moved. Views read everything from roles, so
// tests read roles instead of pixels.
class SidebarModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role {
        SymbolNameRole = Qt::UserRole + 1, // the symbol shown (the override first); "" for headers
        SymbolDescriptionRole,             // the symbol's accessibility description
        AlphaRole,                         // 1.0, or 0.4 for a row whose location is out of reach
        IsHeaderRole,
        KindRole, // SidebarItem::Kind as int
        UrlRole,  // the location's text; "" when the row has none
    };
    static constexpr int headerRowHeight = 24;
    static constexpr int rowHeight = 26;
    static constexpr int iconSize = 16;

    explicit SidebarModel(QObject* parent = nullptr);
    ~SidebarModel() override;

    const std::vector<std::shared_ptr<SidebarItem>>& rootItems() const { return m_rootItems; }
    std::shared_ptr<SidebarItem> itemAt(const QModelIndex& index) const;
    // The index of an item that is in the tree now; invalid for one that was replaced.
    QModelIndex indexFor(const SidebarItem* item) const;

    void setRootItems(std::vector<std::shared_ptr<SidebarItem>> items);
    void insertRootItem(int row, std::shared_ptr<SidebarItem> item);
    void removeRootItem(int row);
    // Replaces the rows below an item in the tree (an item no longer in it just takes them).
    void replaceChildren(SidebarItem* parent, std::vector<std::shared_ptr<SidebarItem>> children);
    void insertChild(SidebarItem* parent, int row, std::shared_ptr<SidebarItem> child);

    // The tooltip of a row, asked for on display; none set: no tooltips.
    std::function<QString(const SidebarItem&)> tooltipProvider;
    // Whether an empty Apps row may be listed now, and the listing itself (fetchMore).
    std::function<bool(const SidebarItem&)> canListApps;
    std::function<void(std::shared_ptr<SidebarItem>)> listApps;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    SidebarItem* itemFor(const QModelIndex& index) const;
    const std::vector<std::shared_ptr<SidebarItem>>& childrenOf(const SidebarItem* item) const;
    int rowOf(const SidebarItem* item) const;

    std::vector<std::shared_ptr<SidebarItem>> m_rootItems;
};
