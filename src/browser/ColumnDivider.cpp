#include "browser/ColumnDivider.h"

#include "uikit/Colours.h"

#include <QMouseEvent>
#include <QPainter>

ColumnDivider::ColumnDivider(QWidget* parent) : QWidget(parent) {
    setFixedWidth(stripWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setCursor(Qt::SplitHCursor);
}

void ColumnDivider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(QRectF((width() - 1) * 0.5, 0, 1, height()), Colours::separator(palette()));
}

void ColumnDivider::mousePressEvent(QMouseEvent* event) {
    m_dragStartX = event->scenePosition().x();
    event->accept();
}

void ColumnDivider::mouseMoveEvent(QMouseEvent* event) {
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
