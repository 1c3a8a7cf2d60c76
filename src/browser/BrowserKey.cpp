#include "browser/BrowserKey.h"

#include <QKeyEvent>

BrowserKey browserKeyFor(const QKeyEvent* event) {
    const bool control = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    // Linux keyboards delete with the Delete key as often as with Backspace.
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        return BrowserKey::deleteItems;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return BrowserKey::rename;
    case Qt::Key_Space:
        return BrowserKey::quickLook;
    case Qt::Key_C:
        return control ? BrowserKey::copy : BrowserKey::none;
    case Qt::Key_X:
        return control ? BrowserKey::cut : BrowserKey::none;
    case Qt::Key_V:
        return control ? BrowserKey::paste : BrowserKey::none;
    case Qt::Key_D:
        return control ? BrowserKey::duplicate : BrowserKey::none;
    default:
        return BrowserKey::none;
    }
}
