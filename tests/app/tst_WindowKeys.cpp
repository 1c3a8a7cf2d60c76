// The application driven from the keyboard alone, window by window, with its real menu bar and
// command chain: the desktop's own keys beside the menu's, Tab through the main window's parts,
// focused buttons and path segments answering Space and Return, the keyboard's place drawn, and a
// whole copy from the device into Downloads without the mouse.

#include "DeviceTestCase.h"
#include "EventLoop.h"
#include "ScriptedAlertPresenter.h"
#include "WidgetDeviceTestMain.h"
#include "app/AppDelegate.h"
#include "app/MainMenu.h"
#include "app/MainWindowController.h"
#include "app/PathBarView.h"
#include "app/PreferencesPane.h"
#include "app/PreferencesWindowController.h"
#include "app/Toolbar.h"
#include "browser/BrowserContainerController.h"
#include "browser/ColumnBrowserViewController.h"
#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "browser/GetInfoPanelController.h"
#include "device/DeviceManager.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunner.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "sidebar/SidebarViewController.h"
#include "transfer/TransferManager.h"
#include "uikit/ItemViewFocus.h"
#include "uikit/PathControl.h"
#include "uikit/QuickLookPanel.h"
#include "uikit/SegmentedControl.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QShortcut>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>

using namespace std::chrono_literals;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A key as the user types it: to whichever widget has the keyboard, through the shortcuts.
void type(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QWidget* target =
        QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
    QVERIFY(target);
    QTest::keyClick(target, key, modifiers);
}

QStringList namesOf(const QList<FileItem>& items) {
    QStringList names;
    for (const FileItem& item : items)
        names << item.name();
    return names;
}

} // namespace

class tst_WindowKeys : public DeviceTestCase {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void preferencesWindowCloses_data();
    void preferencesWindowCloses();
    void getInfoClosesOnEscape();
    void historyAndSearchKeys_data();
    void historyAndSearchKeys();
    void tabGoesRoundTheMainWindow();
    void focusedButtonsAnswerSpaceAndReturn_data();
    void focusedButtonsAnswerSpaceAndReturn();
    void theFocusedListIsMarked();
    void sidebarArrowsPassOverHeadings();
    void copyWithoutTheMouse();

private:
    // Launched past the welcome with the menu bar, one device plugged and its root listed.
    void launch();
    MainWindowController* main() const { return m_delegate->mainWindowController(); }
    ColumnBrowserViewController* columns() const { return main()->browserContainer()->columnBrowser(); }
    QTreeView* sidebarOutline() const;
    // The names the Tab key visits from the widget that has the keyboard now, count steps.
    QStringList tabStops(int count, bool backwards = false);
    static QString describe(const QWidget* widget);
    void waitUntilListed();

    QTemporaryDir m_home;
    QString m_media;
    async::ManualClock m_clock;
    NotificationCenter m_notifications;
    std::unique_ptr<AppDelegate> m_delegate;
    int m_tasksBefore = 0;
};

void tst_WindowKeys::initTestCase() {
    // Downloads is the default destination: this test's, never the developer's.
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral(".config")).toUtf8());
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("Downloads"))));
    UserDefaults::setStandardFilePathForTesting(m_home.filePath(QStringLiteral("defaults.plist")));
}

void tst_WindowKeys::init() {
    setUpTest();
    m_tasksBefore = async::spawnedTasksRunning();
    UserDefaults& defaults = PreferencesViewController::defaults();
    for (const QString& key : defaults.keys())
        defaults.remove(key);
    defaults.set(QString(PreferencesViewController::hasCompletedFirstRunKey), true);
    QDir(m_home.filePath(QStringLiteral("Downloads"))).removeRecursively();
    QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("Downloads"))));
}

void tst_WindowKeys::cleanup() {
    for (GetInfoPanelController* panel : GetInfoPanelController::openPanels())
        panel->window()->close();
    if (QuickLookPanel* panel = QuickLookPanel::sharedIfExists())
        panel->orderOut();
    if (m_delegate)
        m_delegate->applicationWillTerminate();
    m_delegate.reset();
    QTRY_VERIFY_WITH_TIMEOUT(async::spawnedTasksRunning() <= m_tasksBefore, 20000);
    tearDownTest();
}

void tst_WindowKeys::launch() {
    fakemux::DeviceDescription description = describeDevice(udid, QStringLiteral("Studio iPhone"));
    m_media = QString::fromStdString(description.mediaRoot.string());
    for (const char* file :
         {"DCIM/100APPLE/IMG_0001.JPG", "DCIM/100APPLE/IMG_0002.JPG", "Notes/a.txt", "c.txt"})
        writeFile(m_media + u'/' + file, QByteArray("bytes of ") + file);
    addDevice(description);

    AppDelegate::Services services;
    services.deviceManager = std::make_unique<DeviceManager>(
        std::make_shared<IMobileDeviceBridge>(std::make_shared<ProcessRunner>()));
    services.transferManager =
        std::make_shared<TransferManager>(PreferencesViewController::defaults(), m_clock, m_notifications);
    services.alertPresenter = std::make_shared<ScriptedAlertPresenter>();
    m_delegate = std::make_unique<AppDelegate>(std::move(services));
    m_delegate->exitApplication = [](int) {
    };
    m_delegate->setMainMenu(MainMenu::build(m_delegate->commandRouter()));
    m_delegate->applicationDidFinishLaunching();
    QVERIFY(QTest::qWaitForWindowActive(main()->window()));
    QTRY_VERIFY_WITH_TIMEOUT(main()->browserContainer() && columns() && !columns()->panels().isEmpty(),
                             20000);
    waitUntilListed();
    QTRY_COMPARE(QApplication::focusWidget(), columns()->panels().first()->tableView());
}

void tst_WindowKeys::waitUntilListed() {
    QTRY_VERIFY_WITH_TIMEOUT(!columns()->columns().isEmpty() &&
                                 std::none_of(columns()->columns().begin(), columns()->columns().end(),
                                              [](const auto& column) { return column.isLoading; }),
                             20000);
    drainPostedEvents();
}

QTreeView* tst_WindowKeys::sidebarOutline() const {
    auto* sidebar = qobject_cast<SidebarViewController*>(main()->sidebarView());
    return sidebar ? sidebar->outlineView() : nullptr;
}

QString tst_WindowKeys::describe(const QWidget* widget) {
    if (!widget)
        return QStringLiteral("nothing");
    for (const QWidget* each = widget; each; each = each->parentWidget()) {
        if (const auto* table = qobject_cast<const ColumnTableView*>(each)) {
            const auto* panel = qobject_cast<const ColumnPanelView*>(table->parentWidget());
            return QStringLiteral("column ") + (panel ? panel->directoryPath.lastPathComponent() : QString());
        }
        if (each->objectName() == u"sidebarOutline")
            return QStringLiteral("sidebar");
        if (each->objectName().startsWith(u"pathSegment-"))
            return QStringLiteral("path ") + static_cast<const QToolButton*>(each)->text();
        if (each->parentWidget() && qobject_cast<const SegmentedControl*>(each->parentWidget()))
            return QStringLiteral("view ") + each->accessibleName();
        if (qobject_cast<const QLineEdit*>(each) && each->objectName() == Toolbar::searchFieldItem)
            return QStringLiteral("search");
        if (qobject_cast<const QToolButton*>(each) && !each->accessibleName().isEmpty())
            return each->accessibleName();
    }
    return widget->metaObject()->className() + (u' ' + widget->objectName());
}

QStringList tst_WindowKeys::tabStops(int count, bool backwards) {
    QStringList visited;
    for (int step = 0; step < count; ++step) {
        type(backwards ? Qt::Key_Backtab : Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
        visited << describe(QApplication::focusWidget());
    }
    return visited;
}

// --- Preferences ---

void tst_WindowKeys::preferencesWindowCloses_data() {
    QTest::addColumn<bool>("chooseFirst");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Ctrl+W") << false << int(Qt::Key_W) << int(Qt::ControlModifier);
    QTest::newRow("Escape") << false << int(Qt::Key_Escape) << int(Qt::NoModifier);
    QTest::newRow("Ctrl+W after a folder was chosen") << true << int(Qt::Key_W) << int(Qt::ControlModifier);
    QTest::newRow("Escape after a folder was chosen") << true << int(Qt::Key_Escape) << int(Qt::NoModifier);
}

// Ctrl+W and Escape close Preferences, also once the folder chooser it opened has gone.
void tst_WindowKeys::preferencesWindowCloses() {
    QFETCH(bool, chooseFirst);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    launch();
    QVERIFY(m_delegate->commandRouter().sendAction(QStringLiteral("showPreferences:")));
    QWidget* window = m_delegate->preferencesWindowController()->window();
    QVERIFY(QTest::qWaitForWindowActive(window));
    if (chooseFirst) {
        const QString chosen = m_home.filePath(QStringLiteral("Downloads"));
        PreferencesPane* pane = m_delegate->preferencesWindowController()->contentViewController();
        pane->changeDestination();
        QFileDialog* chooser = nullptr;
        QTRY_VERIFY((chooser = window->findChild<QFileDialog*>()) && chooser->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(chooser));
        chooser->setDirectory(chosen);
        chooser->selectFile(chosen);
        static_cast<QDialog*>(chooser)->accept();
        QTRY_COMPARE(QDir::cleanPath(pane->defaultDestinationField->url().value_or(URL()).toLocalFile()),
                     chosen);
        QTRY_VERIFY(!window->findChild<QFileDialog*>());
        QTRY_COMPARE(QApplication::activeWindow(), window);
    }
    type(Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTRY_VERIFY(!window->isVisible());
    QVERIFY(main()->window()->isVisible());
}

// --- Get Info ---

// Escape closes the Get Info panel that has the keyboard, and nothing in the main window.
void tst_WindowKeys::getInfoClosesOnEscape() {
    launch();
    ColumnTableView* table = columns()->panels().first()->tableView();
    type(Qt::Key_Down);
    QTRY_VERIFY(!main()->navigationState().selectedItems.value().isEmpty());
    type(Qt::Key_I, Qt::ControlModifier);
    QTRY_COMPARE(GetInfoPanelController::openPanels().size(), 1);
    QWidget* panel = GetInfoPanelController::openPanels().first()->window();
    // The panel shows without taking the keyboard; the user clicks it.
    panel->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), panel);
    const QSet<FileItem> selected = main()->navigationState().selectedItems.value();
    QPointer<QWidget> watched(panel);
    type(Qt::Key_Escape);
    QTRY_VERIFY(watched.isNull() || !watched->isVisible());
    QTRY_VERIFY(GetInfoPanelController::openPanels().isEmpty());
    QCOMPARE(main()->navigationState().selectedItems.value(), selected);
    QVERIFY(table->isVisible());
}

// --- the main window ---

void tst_WindowKeys::historyAndSearchKeys_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Alt+Left goes back") << "open Notes, Alt+Left"
                                        << "/";
    QTest::newRow("Alt+Right goes forward") << "open Notes, Ctrl+[, Alt+Right"
                                            << "/Notes";
    QTest::newRow("Ctrl+[ still goes back") << "open Notes, Ctrl+["
                                            << "/";
    QTest::newRow("Escape empties the search field") << "search, Escape"
                                                     << "search ''";
}

// The desktop's keys beside the menu's: Alt+Left and Alt+Right go back and forward from the
// column that has the keyboard; Escape empties the search field and the filter with it.
void tst_WindowKeys::historyAndSearchKeys() {
    QFETCH(QString, keys);
    QFETCH(QString, expected);
    launch();
    NavigationState& navigation = main()->navigationState();
    QLineEdit* search = main()->toolbar()->searchField();
    for (const QString& step : keys.split(QStringLiteral(", "))) {
        if (step == u"open Notes") {
            navigation.navigate(URL::fromComponents(QStringLiteral("afc"), udid, QStringLiteral("/Notes")));
            QTRY_COMPARE(columns()->columns().first().path.path(), QStringLiteral("/Notes"));
            waitUntilListed();
            columns()->panels().first()->tableView()->setFocus();
        } else if (step == u"Alt+Left") {
            type(Qt::Key_Left, Qt::AltModifier);
        } else if (step == u"Alt+Right") {
            type(Qt::Key_Right, Qt::AltModifier);
        } else if (step == u"Ctrl+[") {
            type(Qt::Key_BracketLeft, Qt::ControlModifier);
        } else if (step == u"search") {
            search->setFocus();
            QTest::keyClicks(search, QStringLiteral("c.t"));
            QTRY_COMPARE(navigation.searchQuery.value(), QStringLiteral("c.t"));
        } else if (step == u"Escape") {
            type(Qt::Key_Escape);
        }
    }
    drainPostedEvents();
    if (expected.startsWith(u"search")) {
        QCOMPARE(search->text(), QString());
        QTRY_COMPARE(navigation.searchQuery.value(), QString());
        QCOMPARE(QApplication::focusWidget(), search);
        return;
    }
    QTRY_COMPARE(navigation.currentPath.value().value_or(URL()).path(), expected);
}

// Tab visits the sidebar, the browser's column, every toolbar item and the path bar's segments,
// and comes round again; Shift+Tab walks the same stops backwards.
void tst_WindowKeys::tabGoesRoundTheMainWindow() {
    launch();
    QTRY_VERIFY(main()->pathBarView()->pathControl()->visibleSegmentCount() == 1);
    // Back and Forward have no history to go to yet: disabled, they are passed over.
    const QStringList loop{"view Columns",       "search",  "Copy to Computer", "Toggle Preview", "Transfers",
                           "path Studio iPhone", "sidebar", "column /"};
    QCOMPARE(tabStops(int(loop.size())), loop);
    QStringList backwards = loop;
    std::reverse(backwards.begin(), backwards.end());
    backwards = backwards.mid(1) + QStringList{"column /"};
    QCOMPARE(tabStops(int(loop.size()), true), backwards);

    // Into the browser again, the keyboard goes to the column that holds the selection.
    type(Qt::Key_Down);
    QTRY_COMPARE(columns()->panels().size(), 2);
    waitUntilListed();
    type(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(describe(QApplication::focusWidget()), QStringLiteral("sidebar"));
    type(Qt::Key_Tab);
    QCOMPARE(describe(QApplication::focusWidget()), QStringLiteral("column /"));
}

void tst_WindowKeys::focusedButtonsAnswerSpaceAndReturn_data() {
    QTest::addColumn<QString>("widget");
    QTest::addColumn<int>("key");
    QTest::newRow("Copy to Computer, Space") << "copy" << int(Qt::Key_Space);
    QTest::newRow("Copy to Computer, Return") << "copy" << int(Qt::Key_Return);
    QTest::newRow("path segment, Space") << "segment" << int(Qt::Key_Space);
    QTest::newRow("path segment, Return") << "segment" << int(Qt::Key_Return);
    QTest::newRow("view segment, Space") << "view" << int(Qt::Key_Space);
}

// A focused toolbar button or path segment does what a click on it does, for Space (the window's
// Quick Look key elsewhere) as for Return; Quick Look stays shut.
void tst_WindowKeys::focusedButtonsAnswerSpaceAndReturn() {
    QFETCH(QString, widget);
    QFETCH(int, key);
    launch();
    NavigationState& navigation = main()->navigationState();
    // c.txt selected, and the Notes folder's column open after a step into it and out.
    navigation.navigate(URL::fromComponents(QStringLiteral("afc"), udid, QStringLiteral("/Notes")));
    QTRY_COMPARE(main()->pathBarView()->pathControl()->segments().size(), 2);
    waitUntilListed();
    ColumnPanelView* panel = columns()->panels().first();
    panel->tableView()->setFocus();
    type(Qt::Key_Down);
    QTRY_COMPARE(namesOf(panel->selectedItems()), QStringList{"a.txt"});
    QTRY_COMPARE(navigation.selectedItems.value().size(), 1);

    QWidget* target = nullptr;
    if (widget == u"copy")
        target = main()->toolbar()->copyButton();
    else if (widget == u"view")
        target = main()->toolbar()->viewModeControl()->button(1);
    else
        target =
            main()->pathBarView()->pathControl()->findChild<QToolButton*>(QStringLiteral("pathSegment-0"));
    QVERIFY(target);
    target->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), target);
    type(Qt::Key(key));
    drainPostedEvents();
    if (widget == u"copy") {
        const QString copied = m_home.filePath(QStringLiteral("Downloads/a.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(copied), 20000);
        QTRY_COMPARE(m_delegate->transferManager().runningTransferTasks(), 0);
    } else if (widget == u"view") {
        QTRY_COMPARE(navigation.viewMode.value(), BrowserViewMode::list);
    } else {
        QTRY_COMPARE(navigation.currentPath.value().value_or(URL()).path(), QStringLiteral("/"));
        // The keyboard stays in the path bar, on the segment now in the pressed one's place.
        QTRY_COMPARE(main()->pathBarView()->pathControl()->segments().size(), 1);
        QCOMPARE(describe(QApplication::focusWidget()), QStringLiteral("path Studio iPhone"));
    }
    QVERIFY(!QuickLookPanel::sharedIfExists() || !QuickLookPanel::sharedIfExists()->isPanelVisible());
}

// The list that has the keyboard draws its selection in the accent colour; the others in grey.
void tst_WindowKeys::theFocusedListIsMarked() {
    launch();
    QTreeView* sidebar = sidebarOutline();
    QVERIFY(sidebar);
    type(Qt::Key_Down);
    QTRY_COMPARE(columns()->panels().size(), 2);
    waitUntilListed();
    ColumnTableView* first = columns()->panels().at(0)->tableView();
    ColumnTableView* second = columns()->panels().at(1)->tableView();
    const auto marks = [&] {
        QStringList marked;
        for (QAbstractItemView* view : QList<QAbstractItemView*>{sidebar, first, second}) {
            const bool accent = view->palette().color(QPalette::Active, QPalette::Highlight) ==
                                QApplication::palette(view).color(QPalette::Active, QPalette::Highlight);
            // What is drawn and what the helper says agree.
            marked << (accent != ItemViewFocus::isEmphasized(view) ? QStringLiteral("mixed")
                       : accent                                    ? QStringLiteral("accent")
                                                                   : QStringLiteral("grey"));
        }
        return marked;
    };
    QCOMPARE(marks(), (QStringList{"grey", "accent", "grey"}));
    type(Qt::Key_Right);
    QTRY_VERIFY(second->hasFocus());
    QCOMPARE(marks(), (QStringList{"grey", "grey", "accent"}));
    sidebar->setFocus(Qt::TabFocusReason);
    QCOMPARE(marks(), (QStringList{"accent", "grey", "grey"}));
}

// Up and Down in the sidebar step over the section headings to the next row that can be chosen,
// rather than leaving no row selected.
void tst_WindowKeys::sidebarArrowsPassOverHeadings() {
    launch();
    QTreeView* sidebar = sidebarOutline();
    type(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), sidebar);
    const auto selected = [sidebar] {
        const QModelIndexList rows = sidebar->selectionModel()->selectedRows();
        if (rows.size() != 1)
            return QStringLiteral("%1 rows").arg(rows.size());
        return rows.first().parent().data().toString() + u'/' + rows.first().data().toString();
    };
    QCOMPARE(selected(), QStringLiteral("DEVICES/Studio iPhone"));
    type(Qt::Key_Up);
    QVERIFY2(!selected().startsWith(u"DEVICES") && !selected().endsWith(u"rows"), qPrintable(selected()));
    type(Qt::Key_Down);
    QTRY_COMPARE(selected(), QStringLiteral("DEVICES/Studio iPhone"));
}

// A whole copy without the mouse: Tab to the sidebar, Down to the device's Photos, Tab to the
// browser, select everything, Tab to Copy to Computer and press Space; the photos arrive in
// Downloads.
void tst_WindowKeys::copyWithoutTheMouse() {
    launch();
    NavigationState& navigation = main()->navigationState();
    QWidget* sidebar = sidebarOutline();
    for (int tabs = 0; QApplication::focusWidget() != sidebar; ++tabs) {
        QVERIFY2(tabs < 20, qPrintable(describe(QApplication::focusWidget())));
        type(Qt::Key_Tab);
    }
    // The device's row is selected: its first child is Photos.
    type(Qt::Key_Down);
    QTRY_COMPARE_WITH_TIMEOUT(navigation.currentPath.value().value_or(URL()).path(),
                              QStringLiteral("/DCIM/100APPLE"), 20000);
    waitUntilListed();
    type(Qt::Key_Tab);
    QCOMPARE(describe(QApplication::focusWidget()), QStringLiteral("column 100APPLE"));
    type(Qt::Key_A, Qt::ControlModifier);
    QTRY_COMPARE(navigation.selectedItems.value().size(), 2);
    for (int tabs = 0; QApplication::focusWidget() != main()->toolbar()->copyButton(); ++tabs) {
        QVERIFY2(tabs < 20, qPrintable(describe(QApplication::focusWidget())));
        type(Qt::Key_Tab);
    }
    type(Qt::Key_Space);
    for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG"}) {
        const QString copy = m_home.filePath(QStringLiteral("Downloads/") + name);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(copy), 20000);
    }
    QTRY_COMPARE(m_delegate->transferManager().runningTransferTasks(), 0);
    for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG"}) {
        QFile file(m_home.filePath(QStringLiteral("Downloads/") + name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("bytes of DCIM/100APPLE/") + name);
    }
    QVERIFY(!QuickLookPanel::sharedIfExists() || !QuickLookPanel::sharedIfExists()->isPanelVisible());
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_WindowKeys)
#include "tst_WindowKeys.moc"
