#include "uikit/KeyViewLoopWindow.h"

#include <QApplication>

namespace {

bool takesTab(const QWidget* widget) {
    return widget && widget->isVisible() && widget->isEnabled() && widget->width() > 0 &&
           widget->height() > 0 && (widget->focusPolicy() & Qt::TabFocus);
}

} // namespace

bool KeyViewLoopWindow::focusNextPrevChild(bool next) {
    if (!keyViews)
        return QMainWindow::focusNextPrevChild(next);
    QList<Stop> stops = keyViews();
    stops.removeIf([](const Stop& stop) { return !stop.area || !takesTab(stop.target); });
    const QWidget* focus = QApplication::focusWidget();
    qsizetype at = -1;
    for (qsizetype i = 0; focus && i < stops.size() && at < 0; ++i) {
        if (stops[i].area == focus || stops[i].area->isAncestorOf(focus))
            at = i;
    }
    if (at < 0)
        return QMainWindow::focusNextPrevChild(next);
    const qsizetype count = stops.size();
    const qsizetype to = (at + (next ? 1 : count - 1)) % count;
    stops[to].target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}
