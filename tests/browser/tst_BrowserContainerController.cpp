// The container: browsers made on first use and kept across mode switches, and only the browser
// on screen writing the selection and the folder's contents (the column paths always follow).

#include "EventLoop.h"
#include "LogCapture.h"
#include "TemporaryDefaults.h"
#include "TestFiles.h"
#include "browser/BrowserContainerController.h"
#include "browser/ColumnBrowserViewController.h"
#include "browser/ColumnPanelView.h"
#include "browser/IconBrowserViewController.h"
#include "browser/ListBrowserViewController.h"
#include "device/AFCBridge.h"
#include "platform/ManualUiTimerSource.h"
#include "platform/NotificationCenter.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "services/FileSystemProvider.h"
#include "services/FolderWatcher.h"
#include "services/NavigationState.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QLayout>
#include <QLineEdit>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

class tst_BrowserContainerController : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void browsersAreMadeOnceAndKept_data();
    void browsersAreMadeOnceAndKept();
    void onlyTheShownBrowserPublishes();
    void switchingKeepsTheKeyboardInTheBrowser_data();
    void switchingKeepsTheKeyboardInTheBrowser();
    void aChangeInOneModeReachesTheOthers_data();
    void aChangeInOneModeReachesTheOthers();
    void shownComputerFoldersFollowTheDisk_data();
    void shownComputerFoldersFollowTheDisk();
    void eachShownFolderIsListedOnce();
    void aFolderFillingOnScreenIsListedAtABoundedRate_data();
    void aFolderFillingOnScreenIsListedAtABoundedRate();
    void theEndOfOurOwnChangeListsAFolderOnce_data();
    void theEndOfOurOwnChangeListsAFolderOnce();
    void aSwitchShowsTheFolderTheLastViewShowed_data();
    void aSwitchShowsTheFolderTheLastViewShowed();

private:
    void waitUntilListed(ColumnBrowserViewController* browser);
    // The names the browser of that mode shows (the last column's for the columns).
    QStringList shownNames(BrowserViewMode mode) const;
    void show(BrowserViewMode mode);
    // How often the provider read each folder (by its absolute URL) since the capture began.
    static QMap<QString, int> readsOf(const LogCapture& log);
    URL folder(const QString& relative) const { return URL::fileURL(m_dir.filePath(relative), true); }

    QTemporaryDir m_dir;
    async::ManualClock m_clock;
    std::unique_ptr<TemporaryDefaults> m_defaults;
    std::unique_ptr<AFCBridge> m_bridge;
    // Counts the listings the browsers ask for, and those that have ended.
    class CountingProvider : public FileSystemProvider {
    public:
        using FileSystemProvider::FileSystemProvider;
        int listingsBegun = 0;
        int listingsEnded = 0;
        async::Task<QList<FileItem>> listDirectory(URL at) override {
            ++listingsBegun;
            const auto ended = qScopeGuard([this] { ++listingsEnded; });
            co_return co_await FileSystemProvider::listDirectory(std::move(at));
        }
    };
    std::shared_ptr<CountingProvider> m_provider;
    std::unique_ptr<NavigationState> m_navigation;
    std::shared_ptr<TransferManager> m_transfers;
    std::unique_ptr<ClipboardManager> m_clipboard;
    std::unique_ptr<BrowserContainerController> m_container;
};

void tst_BrowserContainerController::init() {
    // Each test starts from the same files, whatever the one before changed.
    for (const char* folder : {"one", "two", "many"})
        QVERIFY(QDir(m_dir.filePath(folder)).removeRecursively());
    for (const char* file : {"one/a.txt", "one/b.txt", "two/c.txt"})
        QVERIFY(writeTestFile(m_dir.filePath(file), "x"));
    m_defaults = std::make_unique<TemporaryDefaults>();
    m_bridge = std::make_unique<AFCBridge>();
    m_provider = std::make_shared<CountingProvider>(*m_bridge, m_clock);
    m_navigation = std::make_unique<NavigationState>(m_defaults->store());
    NotificationCenter& notifications = NotificationCenter::defaultCenter();
    m_transfers = std::make_shared<TransferManager>(m_defaults->store(), m_clock, notifications);
    m_clipboard = std::make_unique<ClipboardManager>(m_transfers, m_provider);
    m_container = std::make_unique<BrowserContainerController>(m_provider, *m_navigation, m_transfers,
                                                               nullptr, m_clipboard.get());
    m_container->resize(800, 400);
    m_container->show();
}

void tst_BrowserContainerController::cleanup() {
    m_container.reset();
    m_clipboard.reset();
    m_transfers.reset();
    m_navigation.reset();
    m_provider.reset();
    m_bridge.reset();
    m_defaults.reset();
}

void tst_BrowserContainerController::waitUntilListed(ColumnBrowserViewController* browser) {
    QVERIFY(browser);
    QTRY_VERIFY(!browser->columns().isEmpty() &&
                std::none_of(browser->columns().begin(), browser->columns().end(),
                             [](const auto& column) { return column.isLoading; }));
}

void tst_BrowserContainerController::browsersAreMadeOnceAndKept_data() {
    QTest::addColumn<QList<int>>("modes");
    QTest::addColumn<QStringList>("shown");
    const int icon = int(BrowserViewMode::icon);
    const int list = int(BrowserViewMode::list);
    const int column = int(BrowserViewMode::column);
    QTest::newRow("the same mode twice") << QList<int>{column, column} << QStringList{"column", "column"};
    QTest::newRow("every mode") << QList<int>{icon, list, column} << QStringList{"icon", "list", "column"};
}

void tst_BrowserContainerController::browsersAreMadeOnceAndKept() {
    QFETCH(QList<int>, modes);
    QFETCH(QStringList, shown);
    // Nothing is made before the mode arrives on a later turn of the loop.
    QVERIFY(!m_container->currentChild());
    LogCapture log;
    drainPostedEvents();
    ColumnBrowserViewController* browser = m_container->columnBrowser();
    QCOMPARE(m_container->currentChild(), browser);
    QCOMPARE(browser->clipboardManager, m_clipboard.get());
    m_navigation->navigate(folder(QStringLiteral(".")));
    waitUntilListed(browser);
    browser->columnSelectionChanged(browser->columns().first().items.first(), 0, 0);
    waitUntilListed(browser);
    QCOMPARE(browser->columns().size(), 2);

    for (int mode : modes) {
        m_navigation->viewMode = BrowserViewMode(mode);
        drainPostedEvents();
        QVERIFY(m_container->currentCommandHandler());
        QWidget* expected = mode == int(BrowserViewMode::column) ? static_cast<QWidget*>(browser)
                            : mode == int(BrowserViewMode::list)
                                ? static_cast<QWidget*>(m_container->listBrowser())
                                : m_container->iconBrowser();
        QVERIFY(expected);
        QCOMPARE(m_container->currentChild(), expected);
        QVERIFY(expected->isVisible());
    }
    // Back and forth once more: still one browser of each kind.
    for (int mode : modes) {
        m_navigation->viewMode = BrowserViewMode(mode);
        drainPostedEvents();
    }
    QCOMPARE(m_container->findChildren<ListBrowserViewController*>().size(),
             modes.contains(int(BrowserViewMode::list)) ? 1 : 0);
    QCOMPARE(m_container->findChildren<IconBrowserViewController*>().size(),
             modes.contains(int(BrowserViewMode::icon)) ? 1 : 0);
    // The same browser, with the columns it had.
    QCOMPARE(m_container->columnBrowser(), browser);
    QCOMPARE(m_container->findChildren<ColumnBrowserViewController*>().size(), 1);
    QCOMPARE(browser->columns().size(), 2);
    QVERIFY(browser->isVisible());
    QStringList switched;
    for (const QString& line : log.messages(LogCapture::category("ui")))
        if (line.startsWith(QStringLiteral("Switched to ")))
            switched.append(line.section(u' ', 2, 2));
    QCOMPARE(switched, QStringList{"column"} + shown + shown);
}

void tst_BrowserContainerController::onlyTheShownBrowserPublishes() {
    drainPostedEvents();
    ColumnBrowserViewController* browser = m_container->columnBrowser();
    m_navigation->navigate(folder(QStringLiteral("one")));
    waitUntilListed(browser);
    QTRY_COMPARE(m_navigation->currentDirectoryContents.value().size(), 2);

    m_navigation->viewMode = BrowserViewMode::list;
    drainPostedEvents();
    ListBrowserViewController* list = m_container->listBrowser();
    QVERIFY(list);
    QTRY_COMPARE(list->displayedItems().size(), 2);
    list->selectAllItems();
    QCOMPARE(m_navigation->selectedItems.value().size(), 2);
    // Hidden, the column browser follows the folder and publishes its columns, but neither its
    // listing nor its selection: the list on screen does.
    m_navigation->navigate(folder(QStringLiteral("two")));
    QTRY_COMPARE(m_navigation->columnPaths.value(), QList<URL>{folder(QStringLiteral("two"))});
    waitUntilListed(browser);
    QTRY_COMPARE(list->displayedItems().size(), 1);
    drainPostedEvents();
    QCOMPARE(m_navigation->currentDirectoryContents.value().size(), 1);
    browser->selectAllItems();
    QCOMPARE(browser->selection().size(), 1);
    QVERIFY(m_navigation->selectedItems.value().isEmpty());
    // The list, hidden in its turn, publishes nothing.
    m_navigation->viewMode = BrowserViewMode::icon;
    drainPostedEvents();
    list->selectAllItems();
    QVERIFY(m_navigation->selectedItems.value().isEmpty());

    // Shown again, it publishes what it shows.
    m_navigation->viewMode = BrowserViewMode::column;
    drainPostedEvents();
    QCOMPARE(m_navigation->currentDirectoryContents.value().size(), 1);
    QCOMPARE(m_navigation->currentDirectoryContents.value().first().name(), QStringLiteral("c.txt"));
    QCOMPARE(m_navigation->selectedItems.value().size(), 1);
}

void tst_BrowserContainerController::switchingKeepsTheKeyboardInTheBrowser_data() {
    QTest::addColumn<bool>("browserHadFocus");
    QTest::newRow("from the browser") << true;
    QTest::newRow("from elsewhere in the window") << false;
}

void tst_BrowserContainerController::switchingKeepsTheKeyboardInTheBrowser() {
    QFETCH(bool, browserHadFocus);
    auto* elsewhere = new QLineEdit(m_container.get());
    m_container->layout()->addWidget(elsewhere);
    QApplication::setActiveWindow(m_container.get());
    QVERIFY(QTest::qWaitForWindowActive(m_container.get()));
    m_navigation->navigate(folder(QStringLiteral("one")));
    m_navigation->viewMode = BrowserViewMode::list;
    drainPostedEvents();
    ListBrowserViewController* list = m_container->listBrowser();
    QVERIFY(list);
    if (browserHadFocus)
        list->itemView()->setFocus();
    else
        elsewhere->setFocus();
    QTRY_VERIFY(QApplication::focusWidget());
    m_navigation->viewMode = BrowserViewMode::icon;
    drainPostedEvents();
    IconBrowserViewController* icons = m_container->iconBrowser();
    QVERIFY(icons);
    QCOMPARE(QApplication::focusWidget() == icons->itemView(), browserHadFocus);
    QCOMPARE(QApplication::focusWidget() == elsewhere, !browserHadFocus);
}

QStringList tst_BrowserContainerController::shownNames(BrowserViewMode mode) const {
    QList<FileItem> items;
    if (mode == BrowserViewMode::column) {
        if (!m_container->columnBrowser()->columns().isEmpty())
            items = m_container->columnBrowser()->columns().last().items;
    } else if (mode == BrowserViewMode::list) {
        items = m_container->listBrowser()->displayedItems();
    } else {
        items = m_container->iconBrowser()->displayedItems();
    }
    QStringList names;
    for (const FileItem& item : items)
        names.append(item.name());
    return names;
}

void tst_BrowserContainerController::aChangeInOneModeReachesTheOthers_data() {
    QTest::addColumn<int>("changedIn");
    QTest::addColumn<int>("shownAfter");
    const int icon = int(BrowserViewMode::icon);
    const int list = int(BrowserViewMode::list);
    const int column = int(BrowserViewMode::column);
    QTest::newRow("delete in the columns, then the list") << column << list;
    QTest::newRow("delete in the list, then the columns") << list << column;
    QTest::newRow("delete in the icons, then the list") << icon << list;
}

void tst_BrowserContainerController::aChangeInOneModeReachesTheOthers() {
    QFETCH(int, changedIn);
    QFETCH(int, shownAfter);
    QTemporaryDir data;
    // Deleted files go to this trash, never the developer's.
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    const auto restore = qScopeGuard([&savedData] { qputenv("XDG_DATA_HOME", savedData); });
    const auto show = [this](int mode) {
        m_navigation->viewMode = BrowserViewMode(mode);
        drainPostedEvents();
    };
    const auto listed = [this](int mode) {
        return shownNames(BrowserViewMode(mode)) == QStringList{"a.txt", "b.txt"};
    };
    drainPostedEvents();
    m_navigation->navigate(folder(QStringLiteral("one")));
    show(shownAfter);
    QTRY_VERIFY(listed(shownAfter));
    show(changedIn);
    QTRY_VERIFY(listed(changedIn));

    QWidget* changer = m_container->currentChild();
    FileItem doomed = m_navigation->currentDirectoryContents.value().first();
    QCOMPARE(doomed.name(), QStringLiteral("a.txt"));
    if (auto* columns = qobject_cast<ColumnBrowserViewController*>(changer))
        columns->deleteItems({doomed});
    else
        static_cast<FlatBrowserController*>(changer)->confirmAndDelete({doomed});
    QTRY_COMPARE(shownNames(BrowserViewMode(changedIn)), QStringList{"b.txt"});
    drainPostedEvents();

    // From the switch on, nothing published names the deleted file.
    QStringList published;
    const Subscription watch =
        m_navigation->currentDirectoryContents.subscribe([&published](const QList<FileItem>& items) {
            for (const FileItem& item : items)
                published.append(item.name());
        });
    show(shownAfter);
    QTRY_COMPARE(shownNames(BrowserViewMode(shownAfter)), QStringList{"b.txt"});
    QTRY_COMPARE(m_navigation->currentDirectoryContents.value().size(), 1);
    QVERIFY2(!published.contains(QStringLiteral("a.txt")), qPrintable(published.join(u',')));
    QCOMPARE(m_navigation->currentDirectoryContents.value().first().name(), QStringLiteral("b.txt"));
}

void tst_BrowserContainerController::shownComputerFoldersFollowTheDisk_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("opened"); // the folder shown; in the columns "." then this one opened
    QTest::addColumn<QString>("change"); // "add", "remove" or "duplicate" (of a.txt, in the columns)
    QTest::addColumn<int>("shownAfter"); // the mode looked at afterwards
    QTest::addColumn<QStringList>("expected");
    const int icon = int(BrowserViewMode::icon);
    const int list = int(BrowserViewMode::list);
    const int column = int(BrowserViewMode::column);
    QTest::newRow("columns: a file added by another program")
        << column << "one"
        << "add" << column << QStringList{"a.txt", "b.txt", "new.txt"};
    QTest::newRow("columns: a file removed in the second column")
        << column << "./one"
        << "remove" << column << QStringList{"b.txt"};
    QTest::newRow("list: a file added") << list << "one"
                                        << "add" << list << QStringList{"a.txt", "b.txt", "new.txt"};
    QTest::newRow("icons: a file removed") << icon << "one"
                                           << "remove" << icon << QStringList{"b.txt"};
    QTest::newRow("a duplicate made in the columns, then the list")
        << column << "one"
        << "duplicate" << list << QStringList{"a copy.txt", "a.txt", "b.txt"};
}

// A computer folder on screen lists again when its files change on disk, by another program or by
// our own commands, and the other views show the change too.
void tst_BrowserContainerController::shownComputerFoldersFollowTheDisk() {
    QFETCH(int, mode);
    QFETCH(QString, opened);
    QFETCH(QString, change);
    QFETCH(int, shownAfter);
    QFETCH(QStringList, expected);
    m_transfers->setFileSystemProvider(m_provider);
    const auto show = [this](int shown) {
        m_navigation->viewMode = BrowserViewMode(shown);
        drainPostedEvents();
    };
    drainPostedEvents();
    const bool deeper = opened.startsWith(QStringLiteral("./"));
    m_navigation->navigate(folder(deeper ? QStringLiteral(".") : opened));
    // The view looked at afterwards has listed the folder before the change.
    if (shownAfter != mode) {
        show(shownAfter);
        QTRY_COMPARE(shownNames(BrowserViewMode(shownAfter)), (QStringList{"a.txt", "b.txt"}));
    }
    show(mode);
    if (deeper) {
        ColumnBrowserViewController* columns = m_container->columnBrowser();
        waitUntilListed(columns);
        const QList<FileItem>& items = columns->columns().first().items;
        const auto one = std::find_if(items.begin(), items.end(),
                                      [](const FileItem& item) { return item.name() == u"one"; });
        QVERIFY(one != items.end());
        columns->columnSelectionChanged(*one, int(one - items.begin()), 0);
        waitUntilListed(columns);
    }
    QTRY_COMPARE(shownNames(BrowserViewMode(mode)), (QStringList{"a.txt", "b.txt"}));
    drainPostedEvents();
    // The watches are made on a thread of their own; a change before they are in place goes unseen.
    QTRY_VERIFY(m_container->folderWatcher().isSettled());

    const QString one = m_dir.filePath(QStringLiteral("one"));
    if (change == u"add") {
        QVERIFY(writeTestFile(one + QStringLiteral("/new.txt"), "x"));
    } else if (change == u"remove") {
        QVERIFY(QFile::remove(one + QStringLiteral("/a.txt")));
    } else {
        ColumnBrowserViewController* columns = m_container->columnBrowser();
        columns->duplicateItems({columns->columns().last().items.first()});
    }
    QTRY_COMPARE(shownNames(BrowserViewMode(mode)), expected);
    QTRY_COMPARE(m_navigation->currentDirectoryContents.value().size(), expected.size());
    show(shownAfter);
    QTRY_COMPARE(shownNames(BrowserViewMode(shownAfter)), expected);
    QTRY_COMPARE(m_navigation->currentDirectoryContents.value().size(), expected.size());
    QTRY_COMPARE(m_transfers->runningTransferTasks(), 0);
}

void tst_BrowserContainerController::show(BrowserViewMode mode) {
    m_navigation->viewMode = mode;
    drainPostedEvents();
}

QMap<QString, int> tst_BrowserContainerController::readsOf(const LogCapture& log) {
    QMap<QString, int> reads;
    for (const QString& line : log.messages(LogCapture::category(QStringLiteral("filesystem")))) {
        if (line.startsWith(QStringLiteral("Listed ")))
            ++reads[line.section(QStringLiteral(" at "), 1)];
    }
    return reads;
}

// Every browser that was ever made follows the navigation, but a folder is read once whichever
// view shows it and however many views were made: a switch takes the listing the last view
// held, and browsers asking at once for one folder share one reading of it.
void tst_BrowserContainerController::eachShownFolderIsListedOnce() {
    drainPostedEvents();
    LogCapture log;
    const QString one = folder(QStringLiteral("one")).absoluteString();
    const QString two = folder(QStringLiteral("two")).absoluteString();
    m_navigation->navigate(folder(QStringLiteral("one")));
    QTRY_COMPARE(shownNames(BrowserViewMode::column), (QStringList{"a.txt", "b.txt"}));

    show(BrowserViewMode::list);
    QTRY_COMPARE(shownNames(BrowserViewMode::list), (QStringList{"a.txt", "b.txt"}));
    show(BrowserViewMode::icon);
    QTRY_COMPARE(shownNames(BrowserViewMode::icon), (QStringList{"a.txt", "b.txt"}));
    QCOMPARE(readsOf(log).value(one), 1);

    // All three made, the icons on screen: one reading of the new folder.
    m_navigation->navigate(folder(QStringLiteral("two")));
    QTRY_COMPARE(shownNames(BrowserViewMode::icon), QStringList{"c.txt"});
    QTRY_COMPARE(shownNames(BrowserViewMode::list), QStringList{"c.txt"});
    QTRY_COMPARE(shownNames(BrowserViewMode::column), QStringList{"c.txt"});
    show(BrowserViewMode::column);
    drainPostedEvents();
    QCOMPARE(readsOf(log).value(two), 1);
    QCOMPARE(m_navigation->currentDirectoryContents.value().size(), 1);
}

void tst_BrowserContainerController::aSwitchShowsTheFolderTheLastViewShowed_data() {
    QTest::addColumn<int>("to");
    QTest::newRow("columns to the list") << int(BrowserViewMode::list);
    QTest::newRow("columns to the icons") << int(BrowserViewMode::icon);
}

// A folder opened in a column does not move the navigation's current path; the view a switch
// brings shows that folder all the same, the path bar names it, and its listing is not read again.
void tst_BrowserContainerController::aSwitchShowsTheFolderTheLastViewShowed() {
    QFETCH(int, to);
    drainPostedEvents();
    ColumnBrowserViewController* columns = m_container->columnBrowser();
    m_navigation->navigate(URL::fileURL(m_dir.path(), true));
    waitUntilListed(columns);
    const QList<FileItem>& top = columns->columns().first().items;
    const auto opened = std::find_if(
        top.begin(), top.end(), [](const FileItem& item) { return item.name() == QStringLiteral("one"); });
    QVERIFY(opened != top.end());
    columns->columnSelectionChanged(*opened, int(opened - top.begin()), 0);
    waitUntilListed(columns);
    QCOMPARE(shownNames(BrowserViewMode::column), (QStringList{"a.txt", "b.txt"}));
    const QList<URL> paths = m_navigation->columnPaths.value();
    QCOMPARE(paths.last(), folder(QStringLiteral("one")));
    LogCapture log;

    show(BrowserViewMode(to));
    QTRY_COMPARE(shownNames(BrowserViewMode(to)), (QStringList{"a.txt", "b.txt"}));
    QCOMPARE(m_navigation->columnPaths.value().last(), folder(QStringLiteral("one")));
    QCOMPARE(m_navigation->currentDirectoryContents.value().size(), 2);
    QVERIFY(readsOf(log).isEmpty());

    // Back in the columns, the folders above it are still there.
    show(BrowserViewMode::column);
    QCOMPARE(m_navigation->columnPaths.value(), paths);
    QCOMPARE(columns->columns().size(), 2);
}

void tst_BrowserContainerController::aFolderFillingOnScreenIsListedAtABoundedRate_data() {
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<int>("most");
    // Another program writes a file every 10 ms of the clock, for 4 s: a listing at once, then
    // one a second, and the last change's.
    QTest::newRow("files written by another program") << false << 6;
    // Our own paste, the clock standing while it runs: the watcher lists the folder at the
    // paste's end, and what it saw before that needs no listing of its own.
    QTest::newRow("our own paste") << true << 2;
}

// A computer folder on screen that receives hundreds of files is listed again a few times, not
// once a file: a copy into the folder on screen keeps its pace however big the folder grows.
void tst_BrowserContainerController::aFolderFillingOnScreenIsListedAtABoundedRate() {
    QFETCH(bool, pasted);
    QFETCH(int, most);
    constexpr int files = 400;
    ManualUiTimerSource timers;
    m_container->setTimerSource(timers);
    m_transfers->setFileSystemProvider(m_provider);
    show(BrowserViewMode::list);
    m_navigation->navigate(folder(QStringLiteral("one")));
    QTRY_COMPARE(shownNames(BrowserViewMode::list), (QStringList{"a.txt", "b.txt"}));
    drainPostedEvents();
    QTRY_VERIFY(m_container->folderWatcher().isSettled());

    const QString one = m_dir.filePath(QStringLiteral("one"));
    LogCapture log;
    if (pasted) {
        for (int index = 0; index < files; ++index)
            QVERIFY(writeTestFile(m_dir.filePath(QStringLiteral("many/%1.jpg").arg(index)), "photo"));
        const QList<FileItem> sources =
            async::runSync(m_provider->listDirectory(folder(QStringLiteral("many"))));
        QCOMPARE(sources.size(), files);
        m_clipboard->items = sources;
        m_clipboard->mode = ClipboardManager::Mode::copy;
        m_container->listBrowser()->paste();
        // Waited for in an event loop of its own: the polling of QTRY would slow each file's
        // turns on the main thread to its pace.
        drainPostedEvents();
        QCOMPARE(m_transfers->activeTransfers.value().size(), 1);
        async::runSync(m_transfers->awaitCompletion(m_transfers->activeTransfers.value().first().id));
        QTRY_COMPARE(m_transfers->runningTransferTasks(), 0);
    } else {
        for (int index = 0; index < files; ++index) {
            QVERIFY(writeTestFile(one + QStringLiteral("/%1.jpg").arg(index), "photo"));
            QCoreApplication::processEvents();
            timers.advance(std::chrono::milliseconds(10));
        }
    }
    // Whatever was seen last shows within one quiet time.
    QTRY_COMPARE_WITH_TIMEOUT((timers.advance(std::chrono::milliseconds(100)),
                               int(m_container->listBrowser()->displayedItems().size())),
                              files + 2, 10000);
    timers.advance(std::chrono::seconds(5));
    drainPostedEvents();
    const int listings = readsOf(log).value(folder(QStringLiteral("one")).absoluteString());
    QVERIFY2(listings >= 1 && listings <= most, qPrintable(QString::number(listings)));
}

void tst_BrowserContainerController::theEndOfOurOwnChangeListsAFolderOnce_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("reportedFirst");
    QTest::addColumn<bool>("intoSubfolder");
    // A copy's last files seen and listed by the watcher's report before the copy's end (its
    // history still being stored): the end lists nothing more.
    QTest::newRow("list, the watcher's report before the end") << int(BrowserViewMode::list) << true << false;
    QTest::newRow("columns, the watcher's report before the end")
        << int(BrowserViewMode::column) << true << false;
    // The last files seen, their report waiting the folder's quiet time: the end lists at once,
    // and the report waits no more.
    QTest::newRow("list, the report still waiting") << int(BrowserViewMode::list) << false << false;
    QTest::newRow("icons, the report still waiting") << int(BrowserViewMode::icon) << false << false;
    // A paste or drop on a folder's row: the folder shown hears nothing of it, and lists itself.
    QTest::newRow("list, into a folder not shown") << int(BrowserViewMode::list) << false << true;
    QTest::newRow("columns, into a folder not shown") << int(BrowserViewMode::column) << false << true;
}

// A folder on screen is read once after a change of our own ends, however the watcher's report of
// its last files and the change's own end fall: a hundred thousand photos are not read twice.
void tst_BrowserContainerController::theEndOfOurOwnChangeListsAFolderOnce() {
    QFETCH(int, mode);
    QFETCH(bool, reportedFirst);
    QFETCH(bool, intoSubfolder);
    ManualUiTimerSource timers;
    m_container->setTimerSource(timers);
    show(BrowserViewMode(mode));
    m_navigation->navigate(folder(QStringLiteral("one")));
    QTRY_COMPARE(shownNames(BrowserViewMode(mode)), (QStringList{"a.txt", "b.txt"}));
    drainPostedEvents();
    QTRY_VERIFY(m_container->folderWatcher().isSettled());
    const QString one = m_dir.filePath(QStringLiteral("one"));
    // The copy's first file, listed at once by the watcher's first report; or a folder made there.
    if (intoSubfolder)
        QVERIFY(QDir(one).mkdir(QStringLiteral("sub")));
    else
        QVERIFY(writeTestFile(one + QStringLiteral("/1.jpg"), "photo"));
    QTRY_COMPARE((timers.advance(std::chrono::milliseconds(0)), shownNames(BrowserViewMode(mode)).size()), 3);
    drainPostedEvents();

    QTRY_COMPARE(m_provider->listingsEnded, m_provider->listingsBegun);
    LogCapture log;
    const qsizetype shownAfter = intoSubfolder ? 3 : 4;
    // One file: one event, which the watcher reads in one go. Into a folder not shown, none.
    QVERIFY(writeTestFile(one + (intoSubfolder ? QStringLiteral("/sub/2.jpg") : QStringLiteral("/2.jpg")),
                          "photo"));
    if (reportedFirst)
        QTRY_COMPARE(
            (timers.advance(std::chrono::milliseconds(100)), shownNames(BrowserViewMode(mode)).size()),
            shownAfter);
    QWidget* changer = m_container->currentChild();
    const URL into = folder(intoSubfolder ? QStringLiteral("one/sub") : QStringLiteral("one"));
    if (auto* columns = qobject_cast<ColumnBrowserViewController*>(changer))
        columns->didChangeContents(into);
    else
        static_cast<FlatBrowserController*>(changer)->didChangeContents(into);
    // No clock turned: the end's listing does not wait for the report's quiet time.
    QTRY_COMPARE(shownNames(BrowserViewMode(mode)).size(), shownAfter);
    QTRY_VERIFY(m_container->folderWatcher().isSettled());
    timers.advance(std::chrono::seconds(5));
    drainPostedEvents();
    // Every listing asked for has begun by now; counted once they have all ended.
    QTRY_COMPARE(m_provider->listingsEnded, m_provider->listingsBegun);
    QCOMPARE(readsOf(log).value(folder(QStringLiteral("one")).absoluteString()), 1);
}

QTEST_MAIN(tst_BrowserContainerController)
#include "tst_BrowserContainerController.moc"
