// The one file context menu: its entries for each kind of selection as lists (title, shown
// shortcut, enabled), where each command sends the items, the folder chooser's answer counting
// after the menu is gone, and Get Info revealing computer items and opening panels for device ones.

#include "ScriptedAlertPresenter.h"
#include "browser/FileContextMenu.h"
#include "browser/GetInfoPanelController.h"
#include "platform/async/Continuation.h"
#include "platform/async/RunSync.h"
#include "services/FolderLooks.h"
#include "services/ThumbnailCache.h"
#include "uikit/FolderChooser.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

FileItem itemAt(const QString& text) {
    const URL url = *URL::fromString(text);
    const bool folder = text.endsWith(u'/');
    return FileItem(text, url.lastPathComponent(), url, folder, 0, Date(0),
                    folder ? FileKind::folder : FileKind::other, std::nullopt);
}

QList<FileItem> itemsAt(const QStringList& texts) {
    QList<FileItem> items;
    for (const QString& text : texts)
        items.append(itemAt(text));
    return items;
}

const QString deviceFile = QStringLiteral("afc://00008110-001A2B3C4D5E6F70/DCIM/IMG_0001.JPG");
const QString deviceFolder = QStringLiteral("afc://00008110-001A2B3C4D5E6F70/DCIM/");
const QString computerFolder = QStringLiteral("file:///home/u/Trips/");
const QString computerFile = QStringLiteral("file:///home/u/a.txt");

// Answers each request once the test says so, and records what it was asked.
class HeldFolderChooser : public FolderChooser {
public:
    QList<Request> requests;
    std::optional<async::Continuation<std::optional<URL>>> pending;

    async::Task<std::optional<URL>> choose(Request request, QWidget*, std::stop_token) override {
        requests.append(request);
        auto park = [this](async::Continuation<std::optional<URL>> continuation) {
            pending = std::move(continuation);
        };
        co_return co_await async::withContinuation<std::optional<URL>>(park);
    }
    void answer(std::optional<URL> folder) {
        std::exchange(pending, std::nullopt)->resume(std::move(folder));
    }
};

QStringList describe(const QMenu* menu) {
    QStringList entries;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            entries.append(QStringLiteral("-"));
            continue;
        }
        QString entry = action->text();
        if (!action->shortcut().isEmpty())
            entry += u'|' + action->shortcut().toString();
        if (!action->isEnabled())
            entry += QStringLiteral("|off");
        entries.append(entry);
    }
    return entries;
}

QAction* entry(const QMenu* menu, const QString& title) {
    for (QAction* action : menu->actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

} // namespace

class tst_FileContextMenu : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void entries_data();
    void entries();
    void commandsSendTheirItems_data();
    void commandsSendTheirItems();
    void chosenFolderCountsAfterTheMenuIsGone();
    void onlyPlacesThatAreThere_data();
    void onlyPlacesThatAreThere();
    void getInfoSaysWhenNothingCanShowAComputerItem_data();
    void getInfoSaysWhenNothingCanShowAComputerItem();

private:
    FileContextMenuActions recordingActions();
    QStringList m_log;
    // A home of the test's own with the usual places, so that none of the user's is looked at.
    QTemporaryDir m_home;
};

void tst_FileContextMenu::initTestCase() {
    QVERIFY(m_home.isValid());
    for (const char* place : {"Desktop", "Downloads", ".config"})
        QVERIFY(QDir(m_home.path()).mkpath(QString::fromLatin1(place)));
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral(".config")).toUtf8());
}

FileContextMenuActions tst_FileContextMenu::recordingActions() {
    FileContextMenuActions actions;
    actions.copyAction = [this](const URL& folder) {
        m_log.append("copy " + folder.path());
    };
    actions.moveAction = [this](const URL& folder) {
        m_log.append("move " + folder.path());
    };
    actions.addToSidebarAction = [this](const FileItem& item) {
        m_log.append("sidebar " + item.name());
    };
    return actions;
}

void tst_FileContextMenu::entries_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<bool>("withMove");
    QTest::addColumn<bool>("allActions");
    QTest::addColumn<bool>("canPaste");
    // Entries joined by ";": title, then "|" and the shortcut shown, "|off" when disabled; "-" is a
    // separator.
    QTest::addColumn<QString>("expected");
    QTest::newRow("one device file")
        << QStringList{deviceFile} << true << true << true
        << "Copy IMG_0001.JPG to Downloads;Copy IMG_0001.JPG to Desktop;-;Copy IMG_0001.JPG to...;-;"
           "Move IMG_0001.JPG to Downloads;Move IMG_0001.JPG to Desktop;-;Move IMG_0001.JPG to...;-;"
           "Get Info|Ctrl+I;-;Cut|Ctrl+X;Copy|Ctrl+C;Paste|Ctrl+V;-;Rename;Duplicate|Ctrl+D;Delete|Backspace";
    QTest::newRow("one computer folder, no move")
        << QStringList{computerFolder} << false << true << true
        << "Copy Trips to Downloads;Copy Trips to Desktop;-;Copy Trips to...;-;Add to Sidebar;-;"
           "Get Info|Ctrl+I;-;Cut|Ctrl+X;Copy|Ctrl+C;Paste|Ctrl+V;-;Rename;Duplicate|Ctrl+D;"
           "Move to Trash|Ctrl+Backspace";
    QTest::newRow("three items, paste impossible")
        << QStringList{deviceFolder, deviceFile, computerFile} << false << true << false
        << "Copy 3 Items to Downloads;Copy 3 Items to Desktop;-;Copy 3 Items to...;-;"
           "Cut|Ctrl+X;Copy|Ctrl+C;Paste|Ctrl+V|off;-;Duplicate|Ctrl+D;Delete|Backspace";
    QTest::newRow("no actions, the computer item first decides")
        << QStringList{computerFile, deviceFolder} << false << false << true
        << "Copy 2 Items to Downloads;Copy 2 Items to Desktop;-;Copy 2 Items to...;-;"
           "Cut|Ctrl+X|off;Copy|Ctrl+C|off;Paste|Ctrl+V|off;-;Duplicate|Ctrl+D|off;"
           "Move to Trash|Ctrl+Backspace|off";
}

void tst_FileContextMenu::entries() {
    QFETCH(QStringList, items);
    QFETCH(bool, withMove);
    QFETCH(bool, allActions);
    QFETCH(bool, canPaste);
    QFETCH(QString, expected);
    FileContextMenuActions actions;
    actions.copyAction = [](const URL&) {
    };
    if (withMove)
        actions.moveAction = [](const URL&) {
        };
    if (allActions) {
        actions.addToSidebarAction = [](const FileItem&) {
        };
        const auto nothing = [] {
        };
        actions.cutAction = actions.copyClipboardAction = actions.pasteAction = nothing;
        actions.renameAction = actions.duplicateAction = actions.deleteAction = nothing;
    }
    actions.canPaste = canPaste;
    std::unique_ptr<QMenu> menu(makeFileContextMenu(itemsAt(items), nullptr, actions));
    QCOMPARE(describe(menu.get()).join(u';'), expected);
    // Shown, never bound: the window's own shortcuts run the commands once.
    for (const QAction* action : menu->actions())
        QVERIFY(action->shortcut().isEmpty() || action->shortcutContext() == Qt::WidgetShortcut);
}

void tst_FileContextMenu::commandsSendTheirItems_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("userFoldersKnown");
    QTest::addColumn<QStringList>("log");
    QTest::newRow("copy to Downloads") << QStringList{deviceFile} << "Copy IMG_0001.JPG to Downloads" << true
                                       << QStringList{"copy /home/t/Downloads"};
    QTest::newRow("move to Desktop") << QStringList{deviceFile} << "Move IMG_0001.JPG to Desktop" << true
                                     << QStringList{"move /home/t/Desktop"};
    QTest::newRow("no Downloads folder does nothing")
        << QStringList{deviceFile} << "Copy IMG_0001.JPG to Downloads" << false << QStringList{};
    QTest::newRow("add to sidebar") << QStringList{deviceFolder} << "Add to Sidebar" << true
                                    << QStringList{"sidebar DCIM"};
    QTest::newRow("get info reveals a computer item")
        << QStringList{computerFile} << "Get Info" << true << QStringList{"reveal /home/u/a.txt"};
    QTest::newRow("get info opens a panel for a device item")
        << QStringList{deviceFile} << "Get Info" << true << QStringList{"panel IMG_0001.JPG"};
}

void tst_FileContextMenu::commandsSendTheirItems() {
    QFETCH(QStringList, items);
    QFETCH(QString, title);
    QFETCH(bool, userFoldersKnown);
    QFETCH(QStringList, log);
    m_log.clear();
    QTemporaryDir thumbnails;
    ThumbnailCache cache(thumbnails.path());
    std::unique_ptr<QMenu> menu(makeFileContextMenu(itemsAt(items), nullptr, recordingActions()));
    ContextMenuTarget* target = ContextMenuTarget::of(menu.get());
    QVERIFY(target);
    target->thumbnailCache = &cache;
    target->reveal = [this](const URL& url, std::function<void()>) {
        m_log.append("reveal " + url.path());
    };
    target->standardFolder =
        [userFoldersKnown](QStandardPaths::StandardLocation location) -> std::optional<URL> {
        if (!userFoldersKnown)
            return std::nullopt;
        return URL::fileURL(
            location == QStandardPaths::DownloadLocation ? "/home/t/Downloads" : "/home/t/Desktop", true);
    };
    const qsizetype panelsBefore = GetInfoPanelController::openPanels().size();
    QAction* action = entry(menu.get(), title);
    QVERIFY(action);
    action->trigger();
    const QList<GetInfoPanelController*> panels = GetInfoPanelController::openPanels();
    for (qsizetype i = panelsBefore; i < panels.size(); ++i)
        m_log.append("panel " + panels.at(i)->item().name());
    QCOMPARE(m_log, log);
    for (qsizetype i = panelsBefore; i < panels.size(); ++i)
        panels.at(i)->window()->close();
    QTRY_COMPARE(GetInfoPanelController::openPanels().size(), panelsBefore);
}

void tst_FileContextMenu::chosenFolderCountsAfterTheMenuIsGone() {
    m_log.clear();
    auto chooser = std::make_shared<HeldFolderChooser>();
    for (const bool confirmed : {true, false}) {
        std::unique_ptr<QMenu> menu(makeFileContextMenu(itemsAt({deviceFile}), nullptr, recordingActions()));
        ContextMenuTarget::of(menu.get())->folderChooser = chooser;
        entry(menu.get(), confirmed ? "Move IMG_0001.JPG to..." : "Copy IMG_0001.JPG to...")->trigger();
        // The menu closes, and is deleted, before the user has chosen.
        menu.reset();
        chooser->answer(confirmed ? std::optional<URL>(URL::fileURL("/home/u/Chosen", true)) : std::nullopt);
    }
    QTRY_COMPARE(m_log, QStringList{"move /home/u/Chosen"});
    QCOMPARE(chooser->requests.size(), 2);
    QCOMPARE(chooser->requests.at(0).prompt, QStringLiteral("Move Here"));
    QCOMPARE(chooser->requests.at(1).prompt, QStringLiteral("Copy Here"));
    QCOMPARE(chooser->requests.at(1).message, QStringLiteral("Choose a destination folder"));
}

void tst_FileContextMenu::onlyPlacesThatAreThere_data() {
    QTest::addColumn<QStringList>("missing");
    // Whether the folders were looked at since they went, as the sidebar does when it sees them go.
    QTest::addColumn<bool>("looked");
    QTest::addColumn<QString>("expected"); // the entries before "Get Info", as in entries()
    const QString both = "Copy IMG_0001.JPG to Downloads;Copy IMG_0001.JPG to Desktop;-;"
                         "Copy IMG_0001.JPG to...;-;Move IMG_0001.JPG to Downloads;"
                         "Move IMG_0001.JPG to Desktop;-;Move IMG_0001.JPG to...";
    QTest::newRow("both there") << QStringList() << true << both;
    QTest::newRow("no Desktop") << QStringList{"Desktop"} << true
                                << "Copy IMG_0001.JPG to Downloads;-;Copy IMG_0001.JPG to...;-;"
                                   "Move IMG_0001.JPG to Downloads;-;Move IMG_0001.JPG to...";
    QTest::newRow("neither") << QStringList{"Desktop", "Downloads"} << true
                             << "Copy IMG_0001.JPG to...;-;Move IMG_0001.JPG to...";
    // The menu never looks itself: a share holding the folder could hold the window.
    QTest::newRow("gone, not looked at since") << QStringList{"Desktop"} << false << both;
}

// The menu offers the places the sidebar lists, those whose folders the latest look found there;
// choosing one never makes its folder.
void tst_FileContextMenu::onlyPlacesThatAreThere() {
    QFETCH(QStringList, missing);
    QFETCH(bool, looked);
    QFETCH(QString, expected);
    const auto lookAtPlaces = [this] {
        FolderLooks looks;
        async::runSync(looks.look({m_home.filePath(QStringLiteral("Desktop")),
                                   m_home.filePath(QStringLiteral("Downloads"))}),
                       std::chrono::seconds(10));
    };
    lookAtPlaces();
    for (const QString& place : missing)
        QVERIFY(QDir(m_home.filePath(place)).removeRecursively());
    const auto restore = qScopeGuard([this, &lookAtPlaces] {
        for (const char* place : {"Desktop", "Downloads"})
            QDir(m_home.path()).mkpath(QString::fromLatin1(place));
        lookAtPlaces();
    });
    if (looked)
        lookAtPlaces();
    m_log.clear();
    std::unique_ptr<QMenu> menu(makeFileContextMenu(itemsAt({deviceFile}), nullptr, recordingActions()));
    QStringList entries = describe(menu.get());
    entries = entries.mid(0, entries.indexOf(QStringLiteral("Get Info|Ctrl+I")) - 1);
    QCOMPARE(entries.join(u';'), expected);
    for (QAction* action : menu->actions())
        if (action->text().endsWith(QLatin1String(" to Downloads")) ||
            action->text().endsWith(QLatin1String(" to Desktop")))
            action->trigger();
    const QString home = m_home.path();
    QStringList sent;
    for (const char* verb : {"copy ", "move "}) {
        for (const QString place : {"Downloads", "Desktop"}) {
            if (!looked || !missing.contains(place))
                sent << verb + home + u'/' + place;
        }
    }
    QCOMPARE(m_log, sent);
    for (const QString& place : missing)
        QVERIFY(!QFileInfo::exists(m_home.filePath(place)));
}

void tst_FileContextMenu::getInfoSaysWhenNothingCanShowAComputerItem_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("informative");
    QTest::newRow("a file the file manager shows") << computerFile << true << ""
                                                   << "";
    QTest::newRow("a file nothing can show")
        << computerFile << false << "The file could not be shown."
        << "No file manager on this computer could show \u201Ca.txt\u201D.";
    QTest::newRow("a folder nothing can show")
        << computerFolder << false << "The folder could not be shown."
        << "No file manager on this computer could show \u201CTrips\u201D.";
}

// Get Info on a computer item that no file manager can show says so over the window, in the
// words every other "could not be shown" uses; one that shows says nothing.
void tst_FileContextMenu::getInfoSaysWhenNothingCanShowAComputerItem() {
    QFETCH(QString, item);
    QFETCH(bool, shown);
    QFETCH(QString, message);
    QFETCH(QString, informative);
    QWidget window;
    std::unique_ptr<QMenu> menu(makeFileContextMenu(itemsAt({item}), nullptr, recordingActions()));
    ContextMenuTarget* target = ContextMenuTarget::of(menu.get());
    QVERIFY(target);
    auto presenter = std::make_shared<ScriptedAlertPresenter>();
    target->alertPresenter = presenter;
    target->dialogParent = &window;
    std::function<void()> failed;
    target->reveal = [&failed](const URL&, std::function<void()> onFailure) {
        failed = std::move(onFailure);
    };
    entry(menu.get(), QStringLiteral("Get Info"))->trigger();
    QVERIFY(failed);
    // The desktop answers later, after the menu is gone.
    menu.reset();
    if (!shown)
        failed();
    QCoreApplication::processEvents();
    if (shown) {
        QVERIFY(presenter->requests.isEmpty());
        return;
    }
    QCOMPARE(presenter->requests.size(), 1);
    const AlertRequest& request = presenter->requests.first();
    QCOMPARE(request.style, AlertRequest::Style::warning);
    QCOMPARE(request.message, message);
    QCOMPARE(request.informative, informative);
    QCOMPARE(presenter->parents.first().data(), &window);
}

QTEST_MAIN(tst_FileContextMenu)
#include "tst_FileContextMenu.moc"
