#include "browser/ColumnDividerView.h"

#include "uikit/Colours.h"

#include <QMouseEvent>
#include <QPainter>

ColumnDividerView::ColumnDividerView(QWidget* parent) : QWidget(parent) {
    setFixedWidth(stripWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setCursor(Qt::SizeHorCursor);
}

void ColumnDividerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(QRectF((width() - 1) * 0.5, 0, 1, height()), Colours::separator(palette()));
}

void ColumnDividerView::mousePressEvent(QMouseEvent* event) {
    m_dragStartX = event->scenePosition().x();
    event->accept();
}

void ColumnDividerView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const double x = event->scenePosition().x();
    const double delta = x - m_dragStartX;
    m_dragStartX = x;
    if (event->modifiers() & Qt::AltModifier) {
        if (onOptionDrag)
            onOptionDrag(delta);
    } else if (onDrag) {
        onDrag(delta);
    }
    event->accept();
}
