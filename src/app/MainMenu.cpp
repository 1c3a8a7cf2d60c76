#include "app/MainMenu.h"

#include "uikit/CommandRouter.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

const QString MainMenu::applicationMenu = QStringLiteral("Orvanta");

namespace {

MainMenu::Item item(QString menu, QString title, QString selector, QList<QKeySequence> shortcuts = {},
                    Qt::ShortcutContext context = Qt::WindowShortcut) {
    return {std::move(menu), std::move(title), std::move(selector), std::move(shortcuts), context};
}

MainMenu::Item separator(QString menu) {
    return {std::move(menu), QString(), QString(), {}, Qt::WindowShortcut};
}

} // namespace

const QList<MainMenu::Item>& MainMenu::items() {
    // The commands that act on whichever window is active are application shortcuts; the rest
    // belong to the main window, so that keys typed in another window never reach the browser.
    constexpr auto app = Qt::ApplicationShortcut;
    static const QList<Item> table{
        item(applicationMenu, "About Orvanta", "showAbout:"),
        separator(applicationMenu),
        item(applicationMenu, "Preferences…", "showPreferences:", {QKeySequence("Ctrl+,")}, app),
        separator(applicationMenu),
        item(applicationMenu, "Quit Orvanta", "terminate:", {QKeySequence("Ctrl+Q")}, app),
        // Alt with the arrows beside them: every file manager of the desktop goes back and
        // forward with those.
        item("File", "Back", "goBackAction:", {QKeySequence("Ctrl+["), QKeySequence("Alt+Left")}),
        item("File", "Forward", "goForwardAction:", {QKeySequence("Ctrl+]"), QKeySequence("Alt+Right")}),
        separator("File"),
        item("File", "Close Window", "performClose:", {QKeySequence("Ctrl+W")}, app),
        item("Edit", "Cut", "cut:", {QKeySequence("Ctrl+X")}),
        item("Edit", "Copy", "copy:", {QKeySequence("Ctrl+C")}),
        item("Edit", "Paste", "paste:", {QKeySequence("Ctrl+V")}),
        separator("Edit"),
        item("Edit", "Duplicate", "duplicate:", {QKeySequence("Ctrl+D")}),
        item("Edit", "Rename", "rename:", {QKeySequence("Ctrl+Return")}),
        // Linux keyboards delete with the Delete key; the menu shows Backspace.
        item("Edit", "Delete", "deleteBackward:", {QKeySequence("Backspace"), QKeySequence("Del")}),
        separator("Edit"),
        item("Edit", "Select All", "selectAll:", {QKeySequence("Ctrl+A")}),
        item("View", "as Columns", "showColumnsView:", {QKeySequence("Ctrl+1")}),
        item("View", "as List", "showListView:", {QKeySequence("Ctrl+2")}),
        item("View", "as Icons", "showIconsView:", {QKeySequence("Ctrl+3")}),
        separator("View"),
        item("View", "Quick Look", "toggleQuickLook:", {QKeySequence("Space")}),
        separator("View"),
        item("View", "Enter Full Screen", "toggleFullScreen:", {QKeySequence("Ctrl+F")}, app),
        item("Window", "Minimize", "miniaturize:", {QKeySequence("Ctrl+M")}, app),
        item("Window", "Transfer Center", "showTransferCenter:", {QKeySequence("Ctrl+Shift+T")}, app),
        item("Window", "Zoom", "zoom:", {}, app),
    };
    return table;
}

QStringList MainMenu::menus() {
    return {applicationMenu, "File", "Edit", "View", "Window", "Help"};
}

QMenuBar* MainMenu::build(CommandRouter& router) {
    auto* bar = new QMenuBar;
    QHash<QString, QMenu*> byTitle;
    for (const QString& title : menus())
        byTitle.insert(title, bar->addMenu(title));
    for (const Item& entry : items()) {
        QMenu* menu = byTitle.value(entry.menu);
        if (entry.title.isEmpty()) {
            menu->addSeparator();
            continue;
        }
        QAction* action = router.addAction(menu, entry.title, entry.selector, QKeySequence(), entry.context);
        action->setShortcuts(entry.shortcuts);
    }
    return bar;
}

const QList<MainMenu::Item>& MainMenu::windowKeys() {
    static const QList<Item> table{
        item(QString(), "Get Info", "getInfo:", {QKeySequence("Ctrl+I")}),
    };
    return table;
}

void MainMenu::addWindowKeys(CommandRouter& router, QWidget* window) {
    for (const Item& entry : windowKeys()) {
        QAction* action = router.addKeyAction(window, entry.title, entry.selector, QKeySequence(), entry.context);
        action->setShortcuts(entry.shortcuts);
    }
}
