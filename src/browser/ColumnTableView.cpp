#include "browser/ColumnTableView.h"

#include "platform/UiTimerSource.h"

#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPointer>
#include <QStyleHints>

ColumnTableView::ColumnTableView(UiTimerSource& timers, QWidget* parent)
    : QListView(parent), m_timers(timers) {}

int ColumnTableView::slowClickDelayMs() {
    return QGuiApplication::styleHints()->mouseDoubleClickInterval() + slowClickGraceMs;
}

std::function<void()>* ColumnTableView::callbackFor(const QKeyEvent* event) {
    const bool control = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Left:
        return &onLeftArrow;
    case Qt::Key_Right:
        return &onRightArrow;
    // Linux keyboards delete with the Delete key as often as with Backspace.
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        return &onDelete;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return &onRename;
    case Qt::Key_Space:
        return &onQuickLook;
    case Qt::Key_C:
        return control ? &onCopy : nullptr;
    case Qt::Key_X:
        return control ? &onCut : nullptr;
    case Qt::Key_V:
        return control ? &onPaste : nullptr;
    case Qt::Key_D:
        return control ? &onDuplicate : nullptr;
    default:
        return nullptr;
    }
}

bool ColumnTableView::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && callbackFor(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QListView::event(event);
}

void ColumnTableView::keyPressEvent(QKeyEvent* event) {
    if (std::function<void()>* callback = callbackFor(event)) {
        // A key of the column without a handler is swallowed, never handed on.
        event->accept();
        if (*callback)
            (*callback)();
        return;
    }
    QListView::keyPressEvent(event);
}

void ColumnTableView::mousePressEvent(QMouseEvent* event) {
    m_slowClickTimer.cancel();
    const QModelIndex index = indexAt(event->position().toPoint());
    const int row = index.isValid() ? index.row() : -1;
    if (event->button() == Qt::RightButton) {
        // A right click acts on the row under it: an unselected row becomes the selection.
        if (row >= 0 && !selectionModel()->isRowSelected(row, QModelIndex())) {
            selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            m_pendingClickRow = row;
        }
        event->accept();
        return;
    }
    const bool plainClick = !(event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier));
    if (event->button() == Qt::LeftButton && plainClick && row >= 0 && row == m_pendingClickRow &&
        selectionModel()->isRowSelected(row, QModelIndex())) {
        QPointer<ColumnTableView> self(this);
        m_slowClickTimer = m_timers.singleShot(std::chrono::milliseconds(slowClickDelayMs()), [self, row] {
            if (self && self->onSlowSecondClick)
                self->onSlowSecondClick(row);
        });
        event->accept();
        return;
    }
    m_pendingClickRow = row;
    QListView::mousePressEvent(event);
}

void ColumnTableView::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt delivers the second press of a double click here and not to mousePressEvent.
    m_slowClickTimer.cancel();
    QListView::mouseDoubleClickEvent(event);
}
