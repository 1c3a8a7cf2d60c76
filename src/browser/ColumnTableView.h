#pragma once

#include "browser/BrowserKeyHandlers.h"
#include "browser/DropHighlight.h"
#include "browser/RowDropRules.h"
#include "platform/Subscription.h"

#include <QListView>

#include <functional>
#include <optional>

class UiTimerSource;

// The list of one column. It turns its own keys and a slow second click into callbacks, and
// takes exactly those keys before the menus do, so that a key pressed here runs the column's
// handler and never the menu item with the same shortcut as well.
class ColumnTableView : public QListView, public BrowserKeyHandlers {
    Q_OBJECT
public:
    // How long after the second click the rename opens, beyond the double-click interval: a
    // double click must have had its chance to arrive first.
    static constexpr int slowClickGraceMs = 50;

    explicit ColumnTableView(UiTimerSource& timers, QWidget* parent = nullptr);

    std::function<void()> onRightArrow;
    std::function<void()> onLeftArrow;
    std::function<void(int row)> onSlowSecondClick;

    // Drags and drops: the panel decides, the list only says which row the pointer is on and
    // whether on it or between rows (below the last row counts as between, row -1).
    std::function<void()> onStartDrag;
    std::function<RowDropRules::Operation(const QMimeData*, int row, RowDropRules::Position,
                                          Qt::KeyboardModifiers)>
        onValidateDrop;
    std::function<bool(const QMimeData*, int row, RowDropRules::Position, Qt::KeyboardModifiers)>
        onAcceptDrop;
    // The right click (or the menu key): the panel's menu at a global position.
    std::function<void(QPoint global)> onContextMenu;

    struct DropTarget {
        int row = -1;
        RowDropRules::Position position = RowDropRules::Position::above;
    };
    DropTarget dropTargetAt(QPoint viewportPosition) const;

    // What the hovering drop would do: the row it goes into, or the whole list for the column's
    // own folder.
    using DropHighlight = ::DropHighlight;
    const DropHighlight& dropHighlight() const { return m_dropHighlight; }
    void setDropHighlight(DropHighlight highlight);

    int pendingClickRow() const { return m_pendingClickRow; }
    bool isSlowClickArmed() const { return m_slowClickTimer.isActive(); }
    // The delay before a slow second click renames: the platform's double-click interval plus
    // the grace above.
    static int slowClickDelayMs();

    // The callback slot a key belongs to, or nullptr when the key is not the column's: the edit
    // keys, and Left and Right without Alt.
    std::function<void()>* callbackFor(const QKeyEvent* event) override;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    UiTimerSource& m_timers;
    int m_pendingClickRow = -1;
    Subscription m_slowClickTimer;
    // Where the press that armed the slow click was: moving away from it drags the row instead.
    std::optional<QPoint> m_armedPress;
    DropHighlight m_dropHighlight;
};
