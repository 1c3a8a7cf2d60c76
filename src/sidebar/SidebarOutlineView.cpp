#include "sidebar/SidebarOutlineView.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <utility>

SidebarOutlineView::SidebarOutlineView(QWidget* parent) : QTreeView(parent) {}

QModelIndex SidebarOutlineView::choosableFrom(QModelIndex index, bool downwards) const {
    while (index.isValid() && !(index.flags() & Qt::ItemIsSelectable))
        index = downwards ? indexBelow(index) : indexAbove(index);
    return index;
}

QItemSelectionModel::SelectionFlags SidebarOutlineView::selectionCommand(const QModelIndex& index,
                                                                         const QEvent* event) const {
    if (index.isValid() && !(index.flags() & Qt::ItemIsSelectable))
        return QItemSelectionModel::NoUpdate;
    return QTreeView::selectionCommand(index, event);
}

void SidebarOutlineView::mousePressEvent(QMouseEvent* event) {
    const QPersistentModelIndex previous = currentIndex();
    QTreeView::mousePressEvent(event);
    // The list makes the pressed row current before it asks whether to select it.
    const QModelIndex current = currentIndex();
    if (current != previous && current.isValid() && !(current.flags() & Qt::ItemIsSelectable))
        selectionModel()->setCurrentIndex(previous, QItemSelectionModel::NoUpdate);
}

QModelIndex SidebarOutlineView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    const QModelIndex from = currentIndex();
    const QModelIndex to = QTreeView::moveCursor(cursorAction, modifiers);
    bool downwards = true;
    switch (cursorAction) {
    case MoveHome:
        return choosableFrom(model()->index(0, 0, rootIndex()), true);
    case MoveEnd: {
        // The last row shown: the last child of the last open row, down to the bottom.
        QModelIndex last = model()->index(model()->rowCount(rootIndex()) - 1, 0, rootIndex());
        while (last.isValid() && isExpanded(last) && model()->rowCount(last) > 0)
            last = model()->index(model()->rowCount(last) - 1, 0, last);
        return choosableFrom(last, false);
    }
    case MoveLeft:
    case MoveRight:
        // Left from a row just below a heading would land on the heading.
        return to.isValid() && !(to.flags() & Qt::ItemIsSelectable) ? from : to;
    case MoveUp:
    case MovePrevious:
    case MovePageUp:
        downwards = false;
        break;
    case MoveDown:
    case MoveNext:
    case MovePageDown:
        break;
    }
    // On along the move; with nothing that can be chosen there, back to the nearest row that can
    // (for Up and Down, the row the move started from).
    const QModelIndex ahead = choosableFrom(to, downwards);
    return ahead.isValid() ? ahead : choosableFrom(to, !downwards);
}

void SidebarOutlineView::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !(event->modifiers() & ~Qt::KeypadModifier)) {
        // Accepted here: the list would otherwise hand it on to the window.
        event->accept();
        if (onOpenSelectedRow)
            onOpenSelectedRow();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        // A current row that is not selected is one the list chose itself and never showed; the
        // list selects nothing when a key lands where it already is, so the key must start
        // afresh for its row to be selected.
        if (currentIndex().isValid() && !selectionModel()->isSelected(currentIndex()))
            selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        break;
    default:
        break;
    }
    const bool wasMoving = std::exchange(m_movingByKey, true);
    QTreeView::keyPressEvent(event);
    m_movingByKey = wasMoving;
}
