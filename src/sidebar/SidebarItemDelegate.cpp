#include "sidebar/SidebarItemDelegate.h"

#include "sidebar/SidebarModel.h"
#include "uikit/Colours.h"
#include "uikit/ItemViewFocus.h"

#include <QAbstractItemView>
#include <QApplication>

#include <QPainter>
#include <QPixmap>

QSize SidebarItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QSize wanted = index.data(Qt::SizeHintRole).toSize();
    if (wanted.height() > 0)
        size.setHeight(wanted.height());
    return size;
}

void SidebarItemDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    option->textElideMode = Qt::ElideRight;
    if (option->icon.isNull())
        return;
    const int side = SidebarModel::iconSize;
    QPixmap symbol = option->icon.pixmap(side, side);
    if (symbol.isNull())
        return;
    // The symbol takes the accent colour through its own shape, then the row's dimming.
    QPixmap tinted(symbol.size());
    tinted.setDevicePixelRatio(symbol.devicePixelRatio());
    tinted.fill(Qt::transparent);
    {
        QPainter painter(&tinted);
        painter.setOpacity(index.data(SidebarModel::AlphaRole).toDouble());
        painter.drawPixmap(0, 0, symbol);
        painter.setOpacity(1.0);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        // On the selected row's highlight, which is the accent colour itself while the list has
        // the keyboard, the symbol takes the highlighted text's colour, as the title does; on the
        // grey of a list without it, the symbol keeps the accent.
        const auto* view = qobject_cast<const QAbstractItemView*>(option->widget);
        const bool onAccent =
            (option->state & QStyle::State_Selected) && (!view || ItemViewFocus::isEmphasized(view));
        QColor colour = onAccent ? option->palette.color(QPalette::HighlightedText)
                                 : Colours::accent(QApplication::palette(option->widget));
        colour.setAlphaF(index.data(SidebarModel::AlphaRole).toDouble());
        painter.fillRect(tinted.rect(), colour);
    }
    option->icon = QIcon(tinted);
    option->decorationSize = QSize(side, side);
}
