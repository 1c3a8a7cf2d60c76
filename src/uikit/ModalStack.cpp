#include "uikit/ModalStack.h"

#include "uikit/AlertDialog.h"

#include <QApplication>
#include <QDialog>

namespace {

bool isOpenModal(const QObject* object) {
    const auto* dialog = qobject_cast<const QDialog*>(object);
    return dialog && dialog->isWindow() && dialog->isVisible() && dialog->isModal();
}

// The window at the foot of widget's stack: below the modal dialogs it stands on.
QWidget* foot(const QWidget* widget) {
    QWidget* window = widget->window();
    while (isOpenModal(window) && window->parentWidget())
        window = window->parentWidget()->window();
    return window;
}

bool standsOn(const QWidget* widget, const QWidget* below) {
    for (const QWidget* step = widget; step; step = step->parentWidget())
        if (step == below)
            return true;
    return false;
}

} // namespace

namespace ModalStack {

QWidget* top(QWidget* widget) {
    QWidget* top = widget->window();
    for (;;) {
        QWidget* next = nullptr;
        // Children in the order they came: the newest open one is the one on top.
        for (QObject* child : top->children())
            if (isOpenModal(child))
                next = static_cast<QWidget*>(child);
        if (!next)
            return top;
        top = next;
    }
}

void handBack(const QDialog* dialog) {
    QWidget* below = dialog->parentWidget();
    if (!below)
        return;
    QWidget* base = foot(below);
    const QWidget* active = QApplication::activeWindow();
    // A window the user went to meanwhile keeps the keyboard.
    if (active && active != dialog && foot(active) != base)
        return;
    QWidget* top = ModalStack::top(base);
    if (!top->isVisible())
        return;
    // Also through the window system: a window-modal dialog that closes leaves no window active
    // where no window manager hands the focus on, and a window manager may hand it to the window
    // the dialog was transient for, which another dialog still blocks. Either way the keys (Return,
    // Escape, Ctrl+W) would reach nothing until the user clicked.
    top->activateWindow();
    // An alert that was open over the closed one had the keyboard already and keeps its place in it.
    if (auto* alert = qobject_cast<AlertDialog*>(top); alert && standsOn(below, alert))
        alert->focusWhereReturnAnswers();
}

} // namespace ModalStack
