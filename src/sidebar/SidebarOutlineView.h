#pragma once

#include <QTreeView>

#include <functional>

// The sidebar's outline. A row that cannot be chosen (a section heading, an Apps row) is never
// the current one: Up, Down, Home, End, the page keys and Left step over such rows to the next
// one that can be chosen, or stay where they are when there is none that way, and a click on one
// only opens or closes it by its arrow, leaving the selection as it was. It also
// says whether a change of the selection comes from its keys, which only move over the rows:
// the row they stop on is opened by the controller, or at once by Return.
class SidebarOutlineView : public QTreeView {
    Q_OBJECT
public:
    explicit SidebarOutlineView(QWidget* parent = nullptr);

    // Whether the key being handled now moved the selection.
    bool isMovingByKey() const { return m_movingByKey; }
    // Return or Enter on the selected row.
    std::function<void()> onOpenSelectedRow;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;

private:
    // The first row that can be chosen from index on (index itself included), down or up the
    // rows shown; invalid when there is none.
    QModelIndex choosableFrom(QModelIndex index, bool downwards) const;

    bool m_movingByKey = false;
};
