#include "browser/DropHighlight.h"

#include "uikit/Colours.h"

#include <QApplication>
#include <QPainter>
#include <QWidget>

void paintDropHighlight(QWidget* viewport, const QRect& area, RowDropRules::Operation operation) {
    if (operation == RowDropRules::Operation::none)
        return;
    QPainter painter(viewport);
    painter.setRenderHint(QPainter::Antialiasing);
    // The application's colours, not the list's: a list without the keyboard draws its selection
    // in grey, and a drop over it is still a drop.
    const QPalette palette = QApplication::palette(viewport);
    const QColor accent = Colours::accent(palette);
    painter.setPen(QPen(accent, 2));
    painter.drawRect(area.adjusted(1, 1, -1, -1));
    if (operation != RowDropRules::Operation::copy)
        return;
    const QRect badge(area.right() - 16, area.top() + 2, 14, 14);
    painter.setPen(Qt::NoPen);
    painter.setBrush(accent);
    painter.drawEllipse(badge);
    painter.setPen(QPen(palette.color(QPalette::HighlightedText), 2));
    painter.drawLine(badge.center().x() - 3, badge.center().y(), badge.center().x() + 3, badge.center().y());
    painter.drawLine(badge.center().x(), badge.center().y() - 3, badge.center().x(), badge.center().y() + 3);
}
