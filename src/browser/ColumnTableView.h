#pragma once

#include "platform/Subscription.h"

#include <QListView>

#include <functional>

class UiTimerSource;

// The list of one column. It turns its own keys and a slow second click into callbacks, and
// takes exactly those keys before the menus do, so that a key pressed here runs the column's
// handler and never the menu item with the same shortcut as well.
class ColumnTableView : public QListView {
    Q_OBJECT
public:
    // How long after the second click the rename opens, beyond the double-click interval: a
    // double click must have had its chance to arrive first.
    static constexpr int slowClickGraceMs = 50;

    explicit ColumnTableView(UiTimerSource& timers, QWidget* parent = nullptr);

    std::function<void()> onRightArrow;
    std::function<void()> onLeftArrow;
    std::function<void()> onDelete;
    std::function<void()> onRename;
    std::function<void()> onCopy;
    std::function<void()> onCut;
    std::function<void()> onPaste;
    std::function<void()> onDuplicate;
    // Space: the Quick Look toggle, sent through the window's command chain.
    std::function<void()> onQuickLook;
    std::function<void(int row)> onSlowSecondClick;

    int pendingClickRow() const { return m_pendingClickRow; }
    bool isSlowClickArmed() const { return m_slowClickTimer.isActive(); }
    // The delay before a slow second click renames: the platform's double-click interval plus
    // the grace above.
    static int slowClickDelayMs();

    // The callback slot a key belongs to, or nullptr when the key is not the column's.
    std::function<void()>* callbackFor(const QKeyEvent* event);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    UiTimerSource& m_timers;
    int m_pendingClickRow = -1;
    Subscription m_slowClickTimer;
};
