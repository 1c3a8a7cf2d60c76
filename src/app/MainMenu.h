#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

class CommandRouter;
class QMenuBar;
class QWidget;

// The menu bar, built from one table. Items carry their command's selector and reach whoever
// answers it through the command router; a separator is an item without a title.
class MainMenu {
public:
    struct Item {
        QString menu;
        QString title;
        QString selector;
        QList<QKeySequence> shortcuts;
        Qt::ShortcutContext context = Qt::WindowShortcut;
    };

    // The application menu carries the application's name.
    static const QString applicationMenu;

    // Every menu's items in order, the menus in the order of the bar.
    static const QList<Item>& items();
    // The menus in the order of the bar.
    static QStringList menus();
    // A new menu bar whose actions send through router.
    static QMenuBar* build(CommandRouter& router);
    // Commands that only a context menu shows, with the key it shows: the key works in the whole
    // window wherever the command is enabled (Get Info, Ctrl+I).
    static const QList<Item>& windowKeys();
    // Gives window the keys of windowKeys(), sending through router.
    static void addWindowKeys(CommandRouter& router, QWidget* window);

    MainMenu() = delete;
};
