#pragma once

#include <QStyledItemDelegate>

// Draws a sidebar row from its roles: the row height the model gives, the symbol at 16 pixels in
// the accent colour (the highlighted text's on the selected row), dimmed with the row's alpha.
class SidebarItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
