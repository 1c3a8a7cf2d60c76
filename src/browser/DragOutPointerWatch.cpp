#include "browser/DragOutPointerWatch.h"

#include <QApplication>
#include <QCursor>
#include <QWidget>

DragOutPointerWatch::DragOutPointerWatch(UiTimerSource& timers, std::function<void()> onLeft,
                                         PointerPosition position, InsideOurWindows inside)
    : m_timers(timers), m_onLeft(std::move(onLeft)),
      m_position(position ? std::move(position)
                          : PointerPosition(&DragOutPointerWatch::lastReportedPosition)),
      m_inside(inside ? std::move(inside)
                      : InsideOurWindows(&DragOutPointerWatch::insideApplicationWindows)) {
    schedule();
}

QPoint DragOutPointerWatch::lastReportedPosition() {
    // Without a screen, QCursor answers from the last mouse event the window system delivered,
    // which during a drag means each motion of it. QCursor::pos() would ask the X server instead,
    // a round trip on every poll while the drag holds the pointer: if the server stops answering
    // (another client holds it while it waits for pointer input, which our grab takes), the main
    // thread would wait with the grab held, and the desktop with it.
    return QCursor::pos(static_cast<const QScreen*>(nullptr));
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
