// The menu bar as built: menus, items, separators, shortcuts and which window they act in.

#include "app/MainMenu.h"
#include "uikit/CommandRouter.h"

#include <QMenu>
#include <QMenuBar>
#include <QTest>

namespace {

// One line per entry of the bar: "menu|title|selector|shortcuts|context", a separator as
// "menu|-".
QStringList describe(QMenuBar* bar) {
    QStringList lines;
    for (QAction* top : bar->actions()) {
        QMenu* menu = top->menu();
        if (menu->actions().isEmpty())
            lines << menu->title() + QStringLiteral("|(empty)");
        for (QAction* action : menu->actions()) {
            if (action->isSeparator()) {
                lines << menu->title() + QStringLiteral("|-");
                continue;
            }
            QStringList keys;
            for (const QKeySequence& key : action->shortcuts())
                keys << key.toString(QKeySequence::PortableText);
            const QString context = action->shortcutContext() == Qt::ApplicationShortcut
                                        ? QStringLiteral("app")
                                        : QStringLiteral("window");
            lines << QStringList{menu->title(), action->text(),
                                 action->property(CommandRouter::selectorProperty).toString(),
                                 keys.join(u' '), context}
                         .join(u'|');
        }
    }
    return lines;
}

} // namespace

class tst_MainMenu : public QObject {
    Q_OBJECT

private slots:
    void entries_data() {
        QTest::addColumn<QString>("line");
        const char* lines[] = {
            "Orvanta|About Orvanta|showAbout:||window",
            "Orvanta|-",
            "Orvanta|Preferences…|showPreferences:|Ctrl+,|app",
            "Orvanta|-",
            "Orvanta|Quit Orvanta|terminate:|Ctrl+Q|app",
            "File|Back|goBackAction:|Ctrl+[ Alt+Left|window",
            "File|Forward|goForwardAction:|Ctrl+] Alt+Right|window",
            "File|-",
            "File|Close Window|performClose:|Ctrl+W|app",
            "Edit|Cut|cut:|Ctrl+X|window",
            "Edit|Copy|copy:|Ctrl+C|window",
            "Edit|Paste|paste:|Ctrl+V|window",
            "Edit|-",
            "Edit|Duplicate|duplicate:|Ctrl+D|window",
            "Edit|Rename|rename:|Ctrl+Return|window",
            "Edit|Delete|deleteBackward:|Backspace Del|window",
            "Edit|-",
            "Edit|Select All|selectAll:|Ctrl+A|window",
            "View|as Columns|showColumnsView:|Ctrl+1|window",
            "View|as List|showListView:|Ctrl+2|window",
            "View|as Icons|showIconsView:|Ctrl+3|window",
            "View|-",
            "View|Quick Look|toggleQuickLook:|Space|window",
            "View|-",
            "View|Enter Full Screen|toggleFullScreen:|Ctrl+F|app",
            "Window|Minimize|miniaturize:|Ctrl+M|app",
            "Window|Transfer Center|showTransferCenter:|Ctrl+Shift+T|app",
            "Window|Zoom|zoom:||app",
            "Help|(empty)",
        };
        int index = 0;
        for (const char* line : lines)
            QTest::addRow("%02d %s", index++, line) << QString::fromUtf8(line);
    }

    // Each row is the entry at its position: order, titles and keys all count.
    void entries() {
        QFETCH(QString, line);
        CommandRouter router;
        std::unique_ptr<QMenuBar> bar(MainMenu::build(router));
        const QStringList built = describe(bar.get());
        const int index = QString::fromLatin1(QTest::currentDataTag()).left(2).toInt();
        QVERIFY(index < built.size());
        QCOMPARE(built.at(index), line);
        QCOMPARE(built.size(), 29);
    }
};

QTEST_MAIN(tst_MainMenu)
#include "tst_MainMenu.moc"
