#pragma once

#include <QKeySequence>
#include <QObject>
#include <QPointer>
#include <QString>

class QAction;
class QMenu;
class QWidget;

// Something that answers menu commands, named by their selector ("copy:", "goBackAction:").
class ActionTarget {
public:
    virtual ~ActionTarget() = default;
    // Whether the command can run now; the menu shows the item enabled exactly then.
    virtual bool validate(const QString& selector) = 0;
    virtual void perform(const QString& selector, QObject* sender) = 0;
};

// Carries a command to the first one who answers it: a focused text editor takes the text
// commands, then the main window's controller (only while the main window is the active window:
// a key pressed in another window must never act on the browser), then the application. Menu
// actions carry their selector; their enabled state is computed again before a menu opens and
// whenever revalidate() is called, and a command is validated once more when it runs, because
// Qt still hands the key of a disabled action to the focus widget. Enabled states are also
// recomputed when another window becomes active and before every key is matched to a shortcut.
class CommandRouter : public QObject {
    Q_OBJECT
public:
    static constexpr const char* selectorProperty = "orvantaSelector";

    explicit CommandRouter(QObject* parent = nullptr);

    void setMainWindow(QWidget* window, ActionTarget* controller);
    void setApplicationTarget(ActionTarget* target) { m_application = target; }

    // The text commands a focused editor answers before anyone else.
    static bool isTextCommand(const QString& selector);
    // The editor of the focus widget when it is one that edits text.
    static QWidget* focusedTextEditor();

    // Who would answer the command now; nullptr when nobody does.
    ActionTarget* targetFor(const QString& selector) const;
    bool validate(const QString& selector) const;
    // Runs the command when someone answers it and validates it now; true when it ran.
    bool sendAction(const QString& selector, QObject* sender = nullptr);

    // A menu item that sends selector when triggered.
    QAction* addAction(QMenu* menu, const QString& title, const QString& selector,
                       const QKeySequence& shortcut = {}, Qt::ShortcutContext context = Qt::WindowShortcut);
    // A command with a key and no menu item: an action of owner (a window), which shows no actions
    // of its own, so only its key sends the command.
    QAction* addKeyAction(QWidget* owner, const QString& title, const QString& selector,
                          const QKeySequence& shortcut, Qt::ShortcutContext context = Qt::WindowShortcut);
    // Every action made here gets its enabled state from validate() again.
    void revalidate();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void track(QAction* action, const QString& selector, const QKeySequence& shortcut,
               Qt::ShortcutContext context);

    QPointer<QWidget> m_mainWindow;
    ActionTarget* m_mainController = nullptr;
    ActionTarget* m_application = nullptr;
    QList<QPointer<QAction>> m_actions;
};
