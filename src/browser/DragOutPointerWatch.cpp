#include "browser/DragOutPointerWatch.h"

#include <QApplication>
#include <QCursor>
#include <QWidget>

DragOutPointerWatch::DragOutPointerWatch(UiTimerSource& timers, std::function<void()> onLeft,
                                         PointerPosition position, InsideOurWindows inside)
    : m_timers(timers), m_onLeft(std::move(onLeft)),
      m_position(position ? std::move(position) : PointerPosition([] { return QCursor::pos(); })),
      m_inside(inside ? std::move(inside)
                      : InsideOurWindows(&DragOutPointerWatch::insideApplicationWindows)) {
    schedule();
}

bool DragOutPointerWatch::insideApplicationWindows(QPoint global) {
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget* window : windows) {
        if (window->isVisible() && window->frameGeometry().contains(global))
            return true;
    }
    return false;
}

void DragOutPointerWatch::schedule() {
    m_timer = m_timers.singleShot(interval, [this] { poll(); });
}

void DragOutPointerWatch::poll() {
    if (m_inside(m_position())) {
        schedule();
        return;
    }
    m_left = true;
    if (m_onLeft)
        m_onLeft();
}
