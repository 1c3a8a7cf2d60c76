#include "sidebar/SidebarRowPositions.h"

#include "platform/Logger.h"

#include <QStringList>
#include <QTreeView>

void SidebarRowPositions::report() {
    // It runs on every paint: walking the rows costs nothing only when nobody reads the lines.
    if (!Logger::ui().loggingCategory().isDebugEnabled()) {
        m_reportedRows.clear();
        return;
    }
    QWidget* viewport = m_view->viewport();
    QHash<QString, QPoint> shown;
    for (QModelIndex index = m_view->indexAt(QPoint(1, 1)); index.isValid(); index = m_view->indexBelow(index)) {
        const QRect rect = m_view->visualRect(index);
        if (rect.top() >= viewport->height())
            break;
        QStringList titles;
        for (QModelIndex row = index; row.isValid(); row = row.parent())
            titles.prepend(row.data(Qt::DisplayRole).toString());
        QString key = titles.join(u'/');
        for (int number = 2; shown.contains(key); ++number)
            key = titles.join(u'/') + u'#' + QString::number(number);
        const QPoint centre = viewport->mapTo(m_view->window(), rect.center());
        shown.insert(key, centre);
        if (m_reportedRows.value(key) != centre)
            Logger::ui().debug("Sidebar: row \"%s\" at %d,%d in the window", key, centre.x(), centre.y());
    }
    for (auto it = m_reportedRows.cbegin(); it != m_reportedRows.cend(); ++it) {
        if (!shown.contains(it.key()))
            Logger::ui().debug("Sidebar: row \"%s\" out of view", it.key());
    }
    m_reportedRows = shown;
}
