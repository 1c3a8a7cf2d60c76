#include "browser/CutDimmingDelegate.h"

#include "browser/FileItemListModel.h"

#include <QApplication>
#include <QPainter>

double CutDimmingDelegate::contentOpacity(double alpha, bool selected) {
    return selected ? std::max(alpha, selectedMinimumOpacity) : alpha;
}

void CutDimmingDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    const double alpha = index.data(FileItemListModel::AlphaRole).toDouble();
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    if (selected && alpha < 1.0) {
        // The highlight at full strength first; the item drawn over it repaints the same colour.
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);
    }
    painter->setOpacity(contentOpacity(alpha, selected));
    QStyledItemDelegate::paint(painter, option, index);
    painter->restore();
}
