// The column browser's keyboard and scrolling: which column the keys act in, Right and Left
// moving between columns, and scrolling so that the column the keys reach, or the one just
// opened, shows whole.

#include "browser/ColumnBrowserViewController.h"

#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "browser/DropAcceptingScrollView.h"
#include "browser/FileItemListModel.h"

#include <QCoreApplication>
#include <QLayout>
#include <QTimer>

void ColumnBrowserViewController::scrollToLastColumn() {
    QTimer::singleShot(0, this, [this] {
        if (!m_panels.isEmpty())
            showWhole(m_panels.last());
    });
}

void ColumnBrowserViewController::showWhole(ColumnPanelView* panel) {
    // The scroll area sizes the row of columns only when it handles its own layout request,
    // which comes later than this: until then a new column lies beyond the scroll range.
    m_containerView->layout()->activate();
    QEvent layoutRequest(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(m_scrollArea, &layoutRequest);
    m_scrollArea->ensureWidgetVisible(panel, 0, 0);
}

void ColumnBrowserViewController::focusColumn(int column) {
    ColumnPanelView* panel = m_panels.at(column);
    panel->tableView()->setFocus();
    // Only the keys scroll: a click that scrolled would move the rows under the pointer.
    showWhole(panel);
}

void ColumnBrowserViewController::moveFocusRight(int column) {
    if (column < 0 || column >= m_columns.size() || column + 1 >= m_panels.size())
        return;
    const std::optional<int> row = m_columns.at(column).selectedRow;
    const QList<FileItem>& shown = m_panels.at(column)->items();
    if (!row || *row < 0 || *row >= shown.size() || !shown.at(*row).isDirectory())
        return;
    focusColumn(column + 1);
    ColumnPanelView* panel = m_panels.at(column + 1);
    ColumnTableView* next = panel->tableView();
    // The column entered selects its first row, so that Down goes on to the second; the row
    // selected reports itself as a click on it would (a folder opens its own column).
    if (!panel->items().isEmpty() && !panel->hasSelection())
        next->setCurrentIndex(panel->model()->index(0));
}

ColumnTableView* ColumnBrowserViewController::keyView() const {
    if (m_panels.isEmpty())
        return nullptr;
    for (ColumnPanelView* panel : m_panels) {
        if (panel->tableView()->hasFocus())
            return panel->tableView();
    }
    if (m_selectionColumn >= 0 && m_selectionColumn < m_panels.size())
        return m_panels.at(m_selectionColumn)->tableView();
    return m_panels.last()->tableView();
}

int ColumnBrowserViewController::focusedColumn(bool forRename) const {
    for (int index = int(m_panels.size()) - 1; index >= 0; --index) {
        if (m_panels.at(index)->tableView()->hasFocus())
            return index;
    }
    if (!forRename)
        return int(m_panels.size()) - 1;
    for (int index = int(m_panels.size()) - 1; index >= 0; --index) {
        if (m_panels.at(index)->hasSelection())
            return index;
    }
    return -1;
}
