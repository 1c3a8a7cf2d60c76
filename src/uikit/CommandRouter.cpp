#include "uikit/CommandRouter.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWindow>

namespace {

// The editor as one interface: the three editor families share no base class for these slots.
class TextEditorTarget : public ActionTarget {
public:
    explicit TextEditorTarget(QWidget* editor) : m_editor(editor) {}

    bool validate(const QString&) override { return true; }

    void perform(const QString& selector, QObject*) override {
        if (auto* line = qobject_cast<QLineEdit*>(m_editor)) {
            call(line, selector);
        } else if (auto* text = qobject_cast<QTextEdit*>(m_editor)) {
            call(text, selector);
        } else if (auto* plain = qobject_cast<QPlainTextEdit*>(m_editor)) {
            call(plain, selector);
        } else if (auto* spin = qobject_cast<QAbstractSpinBox*>(m_editor)) {
            if (selector == u"selectAll:")
                spin->selectAll();
        }
    }

private:
    template <typename Editor> static void call(Editor* editor, const QString& selector) {
        if (selector == u"cut:")
            editor->cut();
        else if (selector == u"copy:")
            editor->copy();
        else if (selector == u"paste:")
            editor->paste();
        else if (selector == u"selectAll:")
            editor->selectAll();
        else if (selector == u"deleteBackward:")
            backspace(editor);
    }
    static void backspace(QLineEdit* editor) { editor->backspace(); }
    template <typename Editor> static void backspace(Editor* editor) {
        editor->textCursor().deletePreviousChar();
    }

    QWidget* m_editor;
};

// The editor of the focus widget has to be asked afresh for every command, so its target is
// built per call and kept here only for the duration of that call.
thread_local std::unique_ptr<TextEditorTarget> editorTarget;

} // namespace

CommandRouter::CommandRouter(QObject* parent) : QObject(parent) {
    connect(qApp, &QApplication::focusChanged, this, &CommandRouter::revalidate);
    // A window can become active with no focused widget (a dialog just closed over it): no focus
    // change then tells the window-dependent commands that they apply again.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &CommandRouter::revalidate);
    // And a key is checked against the truth of the moment before the shortcut map looks at the
    // enabled states, so a state left stale by anything else never swallows a shortcut.
    qApp->installEventFilter(this);
}

bool CommandRouter::eventFilter(QObject* watched, QEvent* event) {
    // A key goes to the focus object and then up through its parents: checked once, when it
    // first arrives.
    if (event->type() == QEvent::ShortcutOverride && !m_actions.isEmpty() &&
        watched == QGuiApplication::focusObject())
        revalidate();
    return QObject::eventFilter(watched, event);
}

void CommandRouter::setMainWindow(QWidget* window, ActionTarget* controller) {
    m_mainWindow = window;
    m_mainController = controller;
}

bool CommandRouter::isTextCommand(const QString& selector) {
    static const QStringList commands{"cut:", "copy:", "paste:", "selectAll:", "deleteBackward:"};
    return commands.contains(selector);
}

QWidget* CommandRouter::focusedTextEditor() {
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return nullptr;
    if (auto* line = qobject_cast<QLineEdit*>(focus))
        return line->isReadOnly() ? nullptr : focus;
    if (qobject_cast<QTextEdit*>(focus) || qobject_cast<QPlainTextEdit*>(focus) ||
        qobject_cast<QAbstractSpinBox*>(focus))
        return focus;
    // A spin box's own line edit has the focus while one is edited.
    if (focus->parentWidget() && qobject_cast<QAbstractSpinBox*>(focus->parentWidget()))
        return focus->parentWidget();
    return nullptr;
}

ActionTarget* CommandRouter::targetFor(const QString& selector) const {
    if (isTextCommand(selector)) {
        if (QWidget* editor = focusedTextEditor()) {
            editorTarget = std::make_unique<TextEditorTarget>(editor);
            return editorTarget.get();
        }
    }
    if (m_mainController && m_mainWindow && QApplication::activeWindow() == m_mainWindow &&
        m_mainController->validate(selector))
        return m_mainController;
    if (m_application && m_application->validate(selector))
        return m_application;
    return nullptr;
}

bool CommandRouter::validate(const QString& selector) const {
    return targetFor(selector) != nullptr;
}

bool CommandRouter::sendAction(const QString& selector, QObject* sender) {
    ActionTarget* target = targetFor(selector);
    if (!target)
        return false;
    target->perform(selector, sender);
    return true;
}

QAction* CommandRouter::addAction(QMenu* menu, const QString& title, const QString& selector,
                                  const QKeySequence& shortcut, Qt::ShortcutContext context) {
    auto* action = menu->addAction(title);
    track(action, selector, shortcut, context);
    connect(menu, &QMenu::aboutToShow, this, &CommandRouter::revalidate, Qt::UniqueConnection);
    return action;
}

QAction* CommandRouter::addKeyAction(QWidget* owner, const QString& title, const QString& selector,
                                     const QKeySequence& shortcut, Qt::ShortcutContext context) {
    auto* action = new QAction(title, owner);
    owner->addAction(action);
    track(action, selector, shortcut, context);
    action->setEnabled(validate(selector));
    return action;
}

void CommandRouter::track(QAction* action, const QString& selector, const QKeySequence& shortcut,
                          Qt::ShortcutContext context) {
    action->setProperty(selectorProperty, selector);
    action->setShortcut(shortcut);
    action->setShortcutContext(context);
    connect(action, &QAction::triggered, this, [this, selector, action] { sendAction(selector, action); });
    m_actions.append(action);
}

void CommandRouter::revalidate() {
    m_actions.removeIf([](const QPointer<QAction>& action) { return action.isNull(); });
    for (const QPointer<QAction>& action : std::as_const(m_actions))
        action->setEnabled(validate(action->property(selectorProperty).toString()));
}
