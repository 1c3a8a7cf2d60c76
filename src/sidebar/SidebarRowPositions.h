#pragma once

#include <QHash>
#include <QPoint>
#include <QString>

class QTreeView;

// Whoever drives the window from outside (the screenshot walk-through) clicks the rows, whose
// places depend on the fonts: the debug log says where each is, once per row and place, and when
// one has left the view. Rows of the same titles are
// told apart by a number ("RECENT/DCIM#2").
class SidebarRowPositions {
public:
    // The view must outlive this.
    explicit SidebarRowPositions(QTreeView* view) : m_view(view) {}

    // Logs the rows that came into view or moved since the last call, and those that left it.
    void report();

private:
    QTreeView* m_view;
    QHash<QString, QPoint> m_reportedRows;
};
