#pragma once

class QKeyEvent;

// The edit keys every browser view answers itself, so that a key pressed in a view runs the view's
// handler and never the menu item with the same shortcut as well.
enum class BrowserKey { none, deleteItems, rename, quickLook, copy, cut, paste, duplicate };

// Return, Backspace, Delete and Space act whatever modifiers are held; C, X, V and D only with Ctrl.
BrowserKey browserKeyFor(const QKeyEvent* event);
