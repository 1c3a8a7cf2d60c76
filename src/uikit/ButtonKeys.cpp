#include "uikit/ButtonKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace {

bool isButtonKey(const QKeyEvent* event) {
    if (event->modifiers() & ~Qt::KeypadModifier)
        return false;
    return event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

} // namespace

void ButtonKeys::install(QAbstractButton* button) {
    button->installEventFilter(new ButtonKeys(button));
}

bool ButtonKeys::eventFilter(QObject* watched, QEvent* event) {
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (!button || (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress))
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (!isButtonKey(key))
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Taken here, so that the button's own key handling runs and no shortcut does.
        event->accept();
        return true;
    }
    // Space presses and releases the button by itself; Return has no meaning to a tool button.
    if (key->key() == Qt::Key_Space)
        return QObject::eventFilter(watched, event);
    event->accept();
    if (button->isEnabled())
        button->click();
    return true;
}
