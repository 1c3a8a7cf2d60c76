#pragma once

class QDialog;
class QWidget;

// The modal dialogs open over one window are a stack. Each new alert is asked over the topmost
// (that dialog is its parent), so that it is transient for that one: every window manager keeps it
// above, and Qt blocks everything beneath it. When one closes, the keyboard goes back down.
namespace ModalStack {

// The topmost modal dialog open over widget's window (that dialog's own alerts included), or that
// window when none is.
QWidget* top(QWidget* widget);

// dialog's question has ended and it is closed: the top of what it was asked over gets the
// keyboard, unless the user went to another window meanwhile. An alert that had been beneath it
// gets the keyboard where Return answers (a click may have left it on a check box).
void handBack(const QDialog* dialog);

} // namespace ModalStack
