#pragma once

#include "platform/Subscription.h"
#include "platform/UiTimerSource.h"

#include <QPoint>

#include <chrono>
#include <functional>

// Tells when the pointer of a running drag has left our windows: the moment to start producing
// the dragged device items, so that they are ready (or well under way) by the time a receiver
// asks for them. X11 tells the source nothing about where the pointer is, so it is polled while
// the drag runs, from the positions of the motion events the drag brings us (never by asking the
// X server). Lives exactly as long as the drag: destroying it stops the polling.
class DragOutPointerWatch {
public:
    static constexpr std::chrono::milliseconds interval{50};

    using PointerPosition = std::function<QPoint()>;
    using InsideOurWindows = std::function<bool(QPoint)>;

    // Without position, lastReportedPosition(); without inside, whether a visible top-level
    // widget's frame holds the point. onLeft runs once, on the first poll that finds the pointer
    // outside.
    DragOutPointerWatch(UiTimerSource& timers, std::function<void()> onLeft, PointerPosition position = {},
                        InsideOurWindows inside = {});
    DragOutPointerWatch(const DragOutPointerWatch&) = delete;
    DragOutPointerWatch& operator=(const DragOutPointerWatch&) = delete;

    bool hasLeft() const { return m_left; }

    // Where the window system's last mouse event put the pointer, in global coordinates.
    static QPoint lastReportedPosition();
    static bool insideApplicationWindows(QPoint global);

private:
    void schedule();
    void poll();

    UiTimerSource& m_timers;
    std::function<void()> m_onLeft;
    PointerPosition m_position;
    InsideOurWindows m_inside;
    bool m_left = false;
    Subscription m_timer;
};
