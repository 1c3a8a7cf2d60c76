#pragma once

#include <functional>

class QEvent;
class QKeyEvent;

// The handlers of the edit keys every browser view answers itself: the column lists and both flat
// item views. A view asks which callback a key belongs to before the window's shortcuts see it,
// so a key pressed in the view runs its handler and never the menu item with the same shortcut
// as well.
struct BrowserKeyHandlers {
    virtual ~BrowserKeyHandlers() = default;

    std::function<void()> onDelete;
    std::function<void()> onRename;
    std::function<void()> onCopy;
    std::function<void()> onCut;
    std::function<void()> onPaste;
    std::function<void()> onDuplicate;
    // Space: the Quick Look toggle, sent through the window's command chain.
    std::function<void()> onQuickLook;

    // The callback slot a key belongs to, or nullptr when the key is not the view's: Return,
    // Backspace, Delete and Space whatever modifiers are held; C, X, V and D only with Ctrl. A view
    // with keys of its own adds them.
    virtual std::function<void()>* callbackFor(const QKeyEvent* event);
    // Runs the key's callback, when it has one, and tells whether the key was the view's.
    bool handle(QKeyEvent* event);
    // For a view's event(): takes the shortcut override of a key of the view, so that the menus
    // leave the key to it. True when the event was taken.
    bool takeShortcutOverride(QEvent* event);
};
