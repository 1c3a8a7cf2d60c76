#include "browser/ColumnTableView.h"

#include "platform/UiTimerSource.h"
#include "uikit/Colours.h"

#include <QApplication>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleHints>

ColumnTableView::ColumnTableView(UiTimerSource& timers, QWidget* parent)
    : QListView(parent), m_timers(timers) {
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(false);
}

int ColumnTableView::slowClickDelayMs() {
    return QGuiApplication::styleHints()->mouseDoubleClickInterval() + slowClickGraceMs;
}

std::function<void()>* ColumnTableView::callbackFor(const QKeyEvent* event) {
    // Alt with an arrow goes back or forward in the window's history, as in every file manager
    // of the desktop: the column leaves it to the menu.
    const bool alt = event->modifiers() & Qt::AltModifier;
    if (event->key() == Qt::Key_Left)
        return alt ? nullptr : &onLeftArrow;
    if (event->key() == Qt::Key_Right)
        return alt ? nullptr : &onRightArrow;
    return BrowserKeyHandlers::callbackFor(event);
}

bool ColumnTableView::event(QEvent* event) {
    if (takeShortcutOverride(event))
        return true;
    return QListView::event(event);
}

void ColumnTableView::keyPressEvent(QKeyEvent* event) {
    if (!handle(event))
        QListView::keyPressEvent(event);
}

void ColumnTableView::mousePressEvent(QMouseEvent* event) {
    m_slowClickTimer.cancel();
    const QModelIndex index = indexAt(event->position().toPoint());
    const int row = index.isValid() ? index.row() : -1;
    if (event->button() == Qt::RightButton) {
        // A right click acts on the row under it: an unselected row becomes the selection. Only
        // left presses count toward the slow second click, so the row it selects is not one.
        if (row >= 0 && !selectionModel()->isRowSelected(row, QModelIndex()))
            selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QListView::mousePressEvent(event);
        return;
    }
    const bool plainClick = !(event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier));
    if (plainClick && row >= 0 && row == m_pendingClickRow &&
        selectionModel()->isRowSelected(row, QModelIndex())) {
        QPointer<ColumnTableView> self(this);
        m_slowClickTimer = m_timers.singleShot(std::chrono::milliseconds(slowClickDelayMs()), [self, row] {
            if (self && self->onSlowSecondClick)
                self->onSlowSecondClick(row);
        });
        m_armedPress = event->position().toPoint();
        event->accept();
        return;
    }
    m_armedPress.reset();
    m_pendingClickRow = row;
    QListView::mousePressEvent(event);
}

void ColumnTableView::mouseMoveEvent(QMouseEvent* event) {
    // The press on the selected row went past the list's own handling, which would have started
    // the drag: a row that is already selected must be draggable all the same.
    if (m_armedPress && (event->buttons() & Qt::LeftButton) &&
        (event->position().toPoint() - *m_armedPress).manhattanLength() >=
            QApplication::startDragDistance()) {
        m_armedPress.reset();
        m_slowClickTimer.cancel();
        if (onStartDrag)
            onStartDrag();
        event->accept();
        return;
    }
    QListView::mouseMoveEvent(event);
}

void ColumnTableView::mouseReleaseEvent(QMouseEvent* event) {
    m_armedPress.reset();
    QListView::mouseReleaseEvent(event);
}

void ColumnTableView::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt delivers the second press of a double click here and not to mousePressEvent.
    m_slowClickTimer.cancel();
    m_armedPress.reset();
    QListView::mouseDoubleClickEvent(event);
}

ColumnTableView::DropTarget ColumnTableView::dropTargetAt(QPoint viewportPosition) const {
    const QModelIndex index = indexAt(viewportPosition);
    if (!index.isValid())
        return {};
    // Near a row's top or bottom edge the pointer is between rows, as item views judge it.
    const QRect rect = visualRect(index);
    const int margin = qBound(2, qRound(qreal(rect.height()) / 5.5), 12);
    if (viewportPosition.y() - rect.top() < margin)
        return {index.row(), RowDropRules::Position::above};
    if (rect.bottom() - viewportPosition.y() < margin)
        return {index.row() + 1, RowDropRules::Position::above};
    return {index.row(), RowDropRules::Position::on};
}

void ColumnTableView::setDropHighlight(DropHighlight highlight) {
    if (highlight == m_dropHighlight)
        return;
    m_dropHighlight = highlight;
    viewport()->update();
}

void ColumnTableView::startDrag(Qt::DropActions) {
    if (onStartDrag)
        onStartDrag();
}

void ColumnTableView::dragEnterEvent(QDragEnterEvent* event) {
    // Taken whenever the column takes drops at all, refused or not: a drop refused on a row must
    // not fall through to the empty area behind the columns, which would copy it elsewhere.
    if (!onValidateDrop || !onAcceptDrop) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    const DropTarget target = dropTargetAt(event->position().toPoint());
    onValidateDrop(event->mimeData(), target.row, target.position, event->modifiers());
}

void ColumnTableView::dragMoveEvent(QDragMoveEvent* event) {
    if (!onValidateDrop) {
        event->ignore();
        return;
    }
    const DropTarget target = dropTargetAt(event->position().toPoint());
    if (onValidateDrop(event->mimeData(), target.row, target.position, event->modifiers()) ==
        RowDropRules::Operation::none) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ColumnTableView::dragLeaveEvent(QDragLeaveEvent* event) {
    setDropHighlight({});
    event->accept();
}

void ColumnTableView::dropEvent(QDropEvent* event) {
    setDropHighlight({});
    const DropTarget target = dropTargetAt(event->position().toPoint());
    if (!onAcceptDrop || !onAcceptDrop(event->mimeData(), target.row, target.position, event->modifiers())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ColumnTableView::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    if (!onContextMenu)
        return;
    // From the keyboard the menu opens at the current row rather than wherever the pointer is.
    const QModelIndex current = currentIndex();
    if (event->reason() == QContextMenuEvent::Keyboard && current.isValid())
        onContextMenu(viewport()->mapToGlobal(visualRect(current).center()));
    else
        onContextMenu(event->globalPos());
}

void ColumnTableView::paintEvent(QPaintEvent* event) {
    QListView::paintEvent(event);
    if (m_dropHighlight.operation == RowDropRules::Operation::none)
        return;
    const QRect area = m_dropHighlight.row >= 0 && model() && m_dropHighlight.row < model()->rowCount()
                           ? visualRect(model()->index(m_dropHighlight.row, 0))
                           : viewport()->rect();
    paintDropHighlight(viewport(), area, m_dropHighlight.operation);
}
