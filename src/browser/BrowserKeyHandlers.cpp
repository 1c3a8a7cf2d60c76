#include "browser/BrowserKeyHandlers.h"

#include "browser/BrowserKey.h"

#include <QKeyEvent>

std::function<void()>* BrowserKeyHandlers::callbackFor(const QKeyEvent* event) {
    switch (browserKeyFor(event)) {
    case BrowserKey::deleteItems:
        return &onDelete;
    case BrowserKey::rename:
        return &onRename;
    case BrowserKey::quickLook:
        return &onQuickLook;
    case BrowserKey::copy:
        return &onCopy;
    case BrowserKey::cut:
        return &onCut;
    case BrowserKey::paste:
        return &onPaste;
    case BrowserKey::duplicate:
        return &onDuplicate;
    case BrowserKey::none:
        break;
    }
    return nullptr;
}

bool BrowserKeyHandlers::handle(QKeyEvent* event) {
    std::function<void()>* callback = callbackFor(event);
    if (!callback)
        return false;
    // A key of the view without a handler is swallowed, never handed on.
    event->accept();
    if (*callback)
        (*callback)();
    return true;
}

bool BrowserKeyHandlers::takeShortcutOverride(QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride || !callbackFor(static_cast<QKeyEvent*>(event)))
        return false;
    event->accept();
    return true;
}
