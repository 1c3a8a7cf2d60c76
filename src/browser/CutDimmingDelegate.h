#pragma once

#include <QStyledItemDelegate>

// Draws a row at its item's alpha, so that cut items look dimmed. A selected row keeps its
// selection colour whole and dims its text and icon less: at the cut alpha the highlighted text
// would all but vanish into the highlight.
class CutDimmingDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The least opacity of a selected row's text and icon.
    static constexpr double selectedMinimumOpacity = 0.75;
    static double contentOpacity(double alpha, bool selected);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
