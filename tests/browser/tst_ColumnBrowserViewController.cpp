// The column browser against temporary folders and the device emulator: which columns a click
// leaves, the folders published for the path bar, late listings dropped, placeholders (also
// after a re-listing and under the search filter), dividers, the edit commands, drops on rows
// and beside the columns, and the context menu's commands.

#include "DeviceTestCase.h"
#include "LogCapture.h"
#include "ScriptedAlertPresenter.h"
#include "TemporaryDefaults.h"
#include "TestFiles.h"
#include "WidgetDeviceTestMain.h"
#include "browser/ColumnBrowserViewController.h"
#include "browser/ColumnDividerView.h"
#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "browser/DropAcceptingScrollView.h"
#include "browser/ErrorPlaceholderView.h"
#include "browser/FileItemListModel.h"
#include "browser/OrvantaDragMimeData.h"
#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "platform/ManualUiTimerSource.h"
#include "platform/NotificationCenter.h"
#include "platform/async/Continuation.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"
#include "uikit/Spinner.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>

using namespace std::chrono_literals;
using async::runSync;

using DragSteps = QList<QPair<double, bool>>;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");

// Holds the listings of chosen folders until the test releases them, fails chosen listings and
// refuses chosen deletions.
class GatedProvider : public FileSystemProvider {
public:
    using FileSystemProvider::FileSystemProvider;
    QSet<QString> held;
    QSet<QString> failing;
    QSet<QString> refusedDeletes;
    int listings = 0;
    int listingsEnded = 0;
    QStringList listedPaths;

    async::Task<QList<FileItem>> listDirectory(URL at) override {
        ++listings;
        listedPaths.append(at.path());
        const auto ended = qScopeGuard([this] { ++listingsEnded; });
        if (held.contains(at.absoluteString())) {
            auto park = [this, at](async::Continuation<void> continuation) {
                m_waiting.append({at, std::move(continuation)});
            };
            co_await async::withContinuation<void>(park);
        }
        if (failing.contains(at.absoluteString()))
            throw FileError(EACCES, QStringLiteral("list"), at.path());
        co_return co_await FileSystemProvider::listDirectory(at);
    }

    async::Task<void> deleteItem(FileItem item) override {
        if (refusedDeletes.contains(item.name()))
            throw FileError(EPERM, QStringLiteral("delete"), item.path().path());
        co_await FileSystemProvider::deleteItem(item);
    }

    bool isWaiting(const URL& url) const {
        return std::any_of(m_waiting.begin(), m_waiting.end(),
                           [&url](const auto& w) { return w.first == url; });
    }
    void release(const URL& url) {
        held.remove(url.absoluteString());
        for (qsizetype i = m_waiting.size() - 1; i >= 0; --i) {
            if (m_waiting[i].first == url)
                m_waiting.takeAt(i).second.resume();
        }
    }

private:
    QList<QPair<URL, async::Continuation<void>>> m_waiting;
};

// Enters the widget at pos and moves there, as a drag does; whether the move was taken.
bool hover(QWidget* target, QPoint pos, QMimeData* data, Qt::KeyboardModifiers modifiers) {
    QDragEnterEvent enter(pos, Qt::CopyAction, data, Qt::LeftButton, modifiers);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, data, Qt::LeftButton, modifiers);
    QApplication::sendEvent(target, &move);
    return enter.isAccepted() && move.isAccepted();
}

// Ends the hovering drag with a drop, or by leaving; whether a drop was taken.
bool endDrag(QWidget* target, QPoint pos, QMimeData* data, Qt::KeyboardModifiers modifiers, bool drop) {
    if (!drop) {
        QDragLeaveEvent leave;
        QApplication::sendEvent(target, &leave);
        return false;
    }
    QDropEvent dropped(QPointF(pos), Qt::CopyAction, data, Qt::LeftButton, modifiers);
    QApplication::sendEvent(target, &dropped);
    return dropped.isAccepted();
}

QStringList namesOf(const QList<FileItem>& items) {
    QStringList names;
    for (const FileItem& item : items)
        names.append(item.name());
    return names;
}

} // namespace

Q_DECLARE_METATYPE(RowDropRules::Operation)

class tst_ColumnBrowserViewController : public DeviceTestCase {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void clicksLeaveColumns_data();
    void clicksLeaveColumns();
    void columnPaths_data();
    void columnPaths();
    void lateListingIsDropped_data();
    void lateListingIsDropped();
    void countLeavesWithItsFolder();
    void placeholders_data();
    void placeholders();
    void failedRelistingKeepsThePlaceholder();
    void searchFilter();
    void dividers_data();
    void dividers();
    void openedColumnIsScrolledIntoView();
    void focusedColumnIsScrolledIntoView_data();
    void focusedColumnIsScrolledIntoView();
    void deleteAsksForDeviceItems_data();
    void deleteAsksForDeviceItems();
    void deleteFailureSummary_data();
    void deleteFailureSummary();
    void duplicateNames_data();
    void duplicateNames();
    void pasteWithoutFocusGoesToLastColumn();
    void aPasteIntoAPhoneFolderReadsItOnce();
    void commandsWithoutSelection();
    void selectAllPublishesOnce_data();
    void selectAllPublishesOnce();
    void renameListsTheColumnsAgain();
    void renameOutcome_data();
    void renameOutcome();
    void rightSelectsTheFirstRow();
    void arrowsMoveFromTheSelectedRow_data();
    void arrowsMoveFromTheSelectedRow();
    void changedOpenFolderKeepsNoDeadColumn_data();
    void changedOpenFolderKeepsNoDeadColumn();
    void rowDrops_data();
    void rowDrops();
    void dropsBesideTheColumns_data();
    void dropsBesideTheColumns();
    void contextMenuActsOnItsRows_data();
    void contextMenuActsOnItsRows();

private:
    // "tree/…", "device/…" (the device's Pics folder) or "outside/…": a path, and its location.
    QString pathOf(const QString& key) const;
    URL locationOf(const QString& key) const;
    // What a drag of those brings: ours (the internal list) or another program's file URLs.
    std::unique_ptr<QMimeData> dragData(const QStringList& sources, bool internal) const;
    URL folderURL(const QString& relative = QString()) const;
    void makeBrowser();
    void openFolder(const URL& url);
    void waitUntilListed();
    void clickRow(int column, const QString& name, Qt::KeyboardModifiers modifiers = {},
                  Qt::MouseButton button = Qt::LeftButton);
    QStringList columnNames() const;
    // tree, A and sub, in a browser too narrow to show the three at once.
    void openThreeColumnsInANarrowBrowser();
    ColumnBrowserViewController& browser() { return *m_browser; }
    void dragDivider(ColumnDividerView* divider, const QList<QPair<double, bool>>& steps);

    QTemporaryDir m_home;
    QString m_root;
    async::ManualClock m_clock;
    ManualUiTimerSource m_timers;
    std::unique_ptr<TemporaryDefaults> m_defaults;
    std::shared_ptr<AFCBridge> m_bridge;
    std::shared_ptr<GatedProvider> m_provider;
    std::unique_ptr<NavigationState> m_navigation;
    std::shared_ptr<TransferManager> m_transfers;
    std::unique_ptr<ClipboardManager> m_clipboard;
    std::shared_ptr<ScriptedAlertPresenter> m_presenter;
    std::unique_ptr<ColumnBrowserViewController> m_browser;
    QString m_mediaRoot;
};

void tst_ColumnBrowserViewController::initTestCase() {
    // Deleted computer files go to this trash, never the developer's.
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("data"))));
}

void tst_ColumnBrowserViewController::init() {
    setUpTest();
    m_root = scratchPath(QStringLiteral("tree"));
    for (const char* file : {"A/sub/deep.txt", "A/a1.txt", "B/b1.jpg", "B/B2.JPG", "B/notes.txt", "c.txt",
                             "d.jpg", "Empty/.keep-out"})
        QVERIFY(writeTestFile(m_root + u'/' + file, "x"));
    QFile::remove(m_root + QStringLiteral("/Empty/.keep-out"));
    m_defaults = std::make_unique<TemporaryDefaults>();
    m_bridge = std::make_shared<AFCBridge>();
    m_provider = std::make_shared<GatedProvider>(*m_bridge, m_clock);
    m_navigation = std::make_unique<NavigationState>(m_defaults->store());
    m_transfers =
        std::make_shared<TransferManager>(m_defaults->store(), m_clock, NotificationCenter::defaultCenter());
    m_transfers->setAFCBridge(m_bridge);
    m_transfers->setFileSystemProvider(m_provider);
    m_clipboard = std::make_unique<ClipboardManager>(m_transfers, m_provider);
    m_presenter = std::make_shared<ScriptedAlertPresenter>();
    makeBrowser();
}

void tst_ColumnBrowserViewController::cleanup() {
    // Transfers a test started (drops, duplicates) end before their manager goes.
    QTRY_COMPARE(m_transfers->runningTransferTasks(), 0);
    m_browser.reset();
    m_clipboard.reset();
    m_transfers.reset();
    m_navigation.reset();
    m_provider.reset();
    m_bridge.reset();
    m_defaults.reset();
    tearDownTest();
}

URL tst_ColumnBrowserViewController::folderURL(const QString& relative) const {
    return URL::fileURL(relative.isEmpty() ? m_root : m_root + u'/' + relative, true);
}

void tst_ColumnBrowserViewController::makeBrowser() {
    m_browser = std::make_unique<ColumnBrowserViewController>(m_provider, *m_navigation, m_transfers, nullptr,
                                                              m_timers);
    m_browser->clipboardManager = m_clipboard.get();
    m_browser->setAlertPresenter(m_presenter);
    m_browser->resize(1200, 400);
    m_browser->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_browser.get()));
}

void tst_ColumnBrowserViewController::waitUntilListed() {
    QTRY_VERIFY(!browser().columns().isEmpty() &&
                std::none_of(browser().columns().begin(), browser().columns().end(),
                             [](const auto& column) { return column.isLoading; }));
    QCoreApplication::sendPostedEvents();
}

void tst_ColumnBrowserViewController::openFolder(const URL& url) {
    m_navigation->navigate(url);
    QTRY_VERIFY(!browser().columns().isEmpty() && browser().columns().first().path == url);
    waitUntilListed();
}

void tst_ColumnBrowserViewController::clickRow(int column, const QString& name,
                                               Qt::KeyboardModifiers modifiers, Qt::MouseButton button) {
    QVERIFY(column < browser().panels().size());
    ColumnPanelView* panel = browser().panels().at(column);
    const int row = int(namesOf(panel->items()).indexOf(name));
    QVERIFY2(row >= 0, qPrintable(name));
    ColumnTableView* table = panel->tableView();
    QTest::mouseClick(table->viewport(), button, modifiers,
                      table->visualRect(panel->model()->index(row)).center());
}

QStringList tst_ColumnBrowserViewController::columnNames() const {
    QStringList names;
    for (const auto& column : m_browser->columns())
        names.append(column.path.lastPathComponent());
    return names;
}

void tst_ColumnBrowserViewController::clicksLeaveColumns_data() {
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QStringList>("columns");
    QTest::addColumn<QStringList>("selection");
    // A folder opens its column and is the selection the window's commands act on.
    QTest::newRow("a folder opens its column")
        << QStringList{"0:A"} << QStringList{"tree", "A"} << QStringList{"A"};
    QTest::newRow("a file selects") << QStringList{"0:c.txt"} << QStringList{"tree"} << QStringList{"c.txt"};
    QTest::newRow("another folder replaces the chain")
        << QStringList{"0:A", "1:sub", "0:B"} << QStringList{"tree", "B"} << QStringList{"B"};
    QTest::newRow("a file cuts the chain back")
        << QStringList{"0:A", "1:sub", "0:c.txt"} << QStringList{"tree"} << QStringList{"c.txt"};
    QTest::newRow("several rows with a folder open nothing")
        << QStringList{"0:A", "0:+d.jpg"} << QStringList{"tree"} << QStringList{"A", "d.jpg"};
    QTest::newRow("a right click selects and so opens")
        << QStringList{"0:c.txt", "0:>A"} << QStringList{"tree", "A"} << QStringList{"A"};
    QTest::newRow("several files in row order")
        << QStringList{"0:d.jpg", "0:+c.txt"} << QStringList{"tree"} << QStringList{"c.txt", "d.jpg"};
    // A click below a column's rows empties its selection and shows that column's folder: the
    // columns after it close, wherever the selection was.
    QTest::newRow("below the rows of an earlier column")
        << QStringList{"0:A", "1:sub", "0:-"} << QStringList{"tree"} << QStringList{};
    QTest::newRow("below the rows of a middle column")
        << QStringList{"0:A", "1:sub", "2:deep.txt", "1:-"} << QStringList{"tree", "A"} << QStringList{};
    QTest::newRow("the open folder taken out of the selection")
        << QStringList{"0:A", "0:+A"} << QStringList{"tree"} << QStringList{};
    // Shown again by navigation (the sidebar's row, the path bar): that folder alone.
    QTest::newRow("the first folder navigated to again")
        << QStringList{"0:A", "1:sub", "="} << QStringList{"tree"} << QStringList{};
}

void tst_ColumnBrowserViewController::clicksLeaveColumns() {
    QFETCH(QStringList, clicks);
    QFETCH(QStringList, columns);
    QFETCH(QStringList, selection);
    openFolder(folderURL());
    for (const QString& click : clicks) {
        if (click == u"=") {
            m_navigation->navigate(folderURL());
            QTRY_COMPARE(browser().columns().size(), 1);
            waitUntilListed();
            continue;
        }
        const int column = click.section(u':', 0, 0).toInt();
        QString name = click.section(u':', 1);
        if (name == u"-") {
            ColumnTableView* table = browser().panels().at(column)->tableView();
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                              QPoint(10, table->viewport()->height() - 5));
            waitUntilListed();
            continue;
        }
        const bool extend = name.startsWith(u'+');
        const bool right = name.startsWith(u'>');
        if (extend || right)
            name.remove(0, 1);
        clickRow(column, name, extend ? Qt::ControlModifier : Qt::NoModifier,
                 right ? Qt::RightButton : Qt::LeftButton);
        waitUntilListed();
    }
    QCOMPARE(columnNames(), columns);
    QCOMPARE(browser().panels().size(), columns.size());
    QCOMPARE(browser().dividers().size(), columns.size() - 1);
    QCOMPARE(namesOf(browser().selection()), selection);
    QTRY_COMPARE(m_navigation->selectedItems.value().size(), selection.size());
    for (const FileItem& item : m_navigation->selectedItems.value())
        QVERIFY(selection.contains(item.name()));
    // The first column stays the current folder; the contents are the last column's.
    QCOMPARE(m_navigation->currentPath.value(), std::optional<URL>(folderURL()));
    QCOMPARE(m_navigation->currentDirectoryContents.value(), browser().columns().last().items);
    QCOMPARE(m_navigation->columnPaths.value().size(), columns.size());
}

void tst_ColumnBrowserViewController::columnPaths_data() {
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("published");
    const QString root = QStringLiteral("afc://%1/").arg(udid);
    const QString app = root + QStringLiteral(".app/io.test.notes/");
    QTest::newRow("device root") << QStringList{root} << QStringList{root};
    QTest::newRow("media folder") << QStringList{root + "DCIM/100APPLE"}
                                  << QStringList{root, root + "DCIM", root + "DCIM/100APPLE"};
    QTest::newRow("media folder with a column")
        << QStringList{root + "DCIM/100APPLE/", root + "DCIM/100APPLE/Edits"}
        << QStringList{root, root + "DCIM", root + "DCIM/100APPLE/", root + "DCIM/100APPLE/Edits"};
    QTest::newRow("container root") << QStringList{app} << QStringList{root, app};
    QTest::newRow("inside a container")
        << QStringList{app + "Documents/Recordings"}
        << QStringList{root, app, app + "Documents", app + "Documents/Recordings"};
    QTest::newRow("computer folder") << QStringList{"file:///home/user/Pictures/",
                                                    "file:///home/user/Pictures/x/"}
                                     << QStringList{"file:///home/user/Pictures/",
                                                    "file:///home/user/Pictures/x/"};
}

void tst_ColumnBrowserViewController::columnPaths() {
    QFETCH(QStringList, folders);
    QFETCH(QStringList, published);
    QList<URL> urls;
    for (const QString& text : folders)
        urls.append(*URL::fromString(text));
    QStringList texts;
    for (const URL& url : ColumnBrowserViewController::columnPathsFor(urls))
        texts.append(url.absoluteString());
    QCOMPARE(texts, published);
}

void tst_ColumnBrowserViewController::lateListingIsDropped_data() {
    QTest::addColumn<bool>("lateOneFails");
    QTest::newRow("late success") << false;
    QTest::newRow("late failure") << true;
}

void tst_ColumnBrowserViewController::lateListingIsDropped() {
    QFETCH(bool, lateOneFails);
    const URL first = folderURL(QStringLiteral("A"));
    const URL second = folderURL(QStringLiteral("B"));
    m_provider->held.insert(first.absoluteString());
    if (lateOneFails)
        m_provider->failing.insert(first.absoluteString());
    LogCapture log;
    m_navigation->navigate(first);
    QTRY_VERIFY(m_provider->isWaiting(first));
    m_navigation->navigate(second);
    waitUntilListed();
    QCOMPARE(columnNames(), QStringList{"B"});
    m_provider->release(first);
    QTRY_VERIFY(!m_provider->isWaiting(first));
    for (const auto& task : browser().tasks())
        runSync(task.result(), 10s);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(columnNames(), QStringList{"B"});
    QCOMPARE(namesOf(browser().panels().first()->items()), (QStringList{"b1.jpg", "B2.JPG", "notes.txt"}));
    QVERIFY(!browser().panels().first()->errorPlaceholder());
    QCOMPARE(namesOf(m_navigation->currentDirectoryContents.value()),
             (QStringList{"b1.jpg", "B2.JPG", "notes.txt"}));
    // A failure is logged even when its column has moved on.
    QCOMPARE(log.messages(LogCapture::category("filesystem"))
                 .filter(QStringLiteral("Column 0 load failed: "))
                 .size(),
             lateOneFails ? 1 : 0);
}

// The status bar counts the folder the columns show: while a new folder waits for its listing,
// the count of the folder left must not stand under the new folder's name.
void tst_ColumnBrowserViewController::countLeavesWithItsFolder() {
    openFolder(folderURL(QStringLiteral("B")));
    QCOMPARE(m_navigation->currentDirectoryContents.value().size(), 3);
    const URL next = folderURL(QStringLiteral("A"));
    m_provider->held.insert(next.absoluteString());
    m_navigation->navigate(next);
    QTRY_VERIFY(m_provider->isWaiting(next));
    QCoreApplication::sendPostedEvents();
    QVERIFY(m_navigation->currentDirectoryContents.value().isEmpty());
    m_provider->release(next);
    waitUntilListed();
    QCOMPARE(namesOf(m_navigation->currentDirectoryContents.value()), (QStringList{"sub", "a1.txt"}));
}

void tst_ColumnBrowserViewController::placeholders_data() {
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");
    QTest::newRow("folder that fails") << "failing"
                                       << "exclamationmark.triangle"
                                       << "*"
                                       << "";
    QTest::newRow("locked device") << "locked"
                                   << "lock.fill"
                                   << "iPhone Is Locked"
                                   << "Unlock your iPhone and try again.";
    QTest::newRow("locked device, inside an app") << "locked app"
                                                  << "lock.fill"
                                                  << "iPhone Is Locked"
                                                  << "Unlock your iPhone and try again.";
    QTest::newRow("app without shared files")
        << "closed app"
        << "xmark.app"
        << "USB File Access Not Available"
        << "This app doesn’t share files over USB.\nOnly apps with File Sharing enabled are accessible.";
    QTest::newRow("empty app container") << "empty app"
                                         << "lock.app.fill"
                                         << "App Data Not Accessible"
                                         << "The developer of this app has restricted access to its data.";
    QTest::newRow("empty computer folder") << "empty folder"
                                           << ""
                                           << ""
                                           << "";
}

void tst_ColumnBrowserViewController::placeholders() {
    QFETCH(QString, where);
    QFETCH(QString, symbol);
    QFETCH(QString, title);
    QFETCH(QString, message);
    fakemux::DeviceDescription description = describeDevice(udid);
    fakemux::AppDescription emptyApp;
    emptyApp.bundleId = "io.test.empty";
    emptyApp.fileSharingEnabled = true;
    emptyApp.container = scratchPath(QStringLiteral("empty-container")).toStdString();
    fakemux::AppDescription closedApp;
    closedApp.bundleId = "io.test.closed";
    closedApp.container = (scratchPath() + QStringLiteral("/no-such-container")).toStdString();
    description.apps = {emptyApp, closedApp};
    fakemux::VirtualDevice& device = addDevice(description);
    URL url;
    if (where == u"failing") {
        url = folderURL(QStringLiteral("A"));
        m_provider->failing.insert(url.absoluteString());
    } else if (where == u"locked") {
        device.faults().setLocked(true);
        url = AFCLocation::mediaRoot(udid);
    } else if (where == u"locked app") {
        device.faults().setLocked(true);
        url = AFCLocation::containerRoot(udid, QStringLiteral("io.test.empty"));
    } else if (where == u"closed app") {
        url = AFCLocation::containerRoot(udid, QStringLiteral("io.test.closed"));
    } else if (where == u"empty app") {
        url = AFCLocation::containerRoot(udid, QStringLiteral("io.test.empty"));
    } else {
        url = folderURL(QStringLiteral("Empty"));
    }
    LogCapture log;
    openFolder(url);
    ColumnPanelView* panel = browser().panels().first();
    QVERIFY(!panel->spinner()->isVisible());
    QCOMPARE(bool(panel->errorPlaceholder()), !symbol.isEmpty());
    const bool failed = where == u"failing" || where.startsWith(u"locked") || where == u"closed app";
    QCOMPARE(log.messages(LogCapture::category("filesystem"))
                 .filter(QStringLiteral("Column 0 load failed: "))
                 .size(),
             failed ? 1 : 0);
    if (symbol.isEmpty())
        return;
    ErrorPlaceholderView* placeholder = panel->errorPlaceholder();
    QCOMPARE(placeholder->symbolName(), symbol);
    if (title != u"*")
        QCOMPARE(placeholder->title(), title);
    else
        QVERIFY(placeholder->title().contains(QStringLiteral("list")));
    QCOMPARE(placeholder->message(), message);
    // Filtering a column that could not be listed keeps its placeholder.
    m_navigation->searchQuery = QStringLiteral("x");
    QTRY_COMPARE(browser().filteredItems(browser().columns().first().items).size(), 0);
    QCoreApplication::sendPostedEvents();
    QVERIFY(panel->errorPlaceholder());
    QCOMPARE(panel->errorPlaceholder()->symbolName(), symbol);
}

void tst_ColumnBrowserViewController::failedRelistingKeepsThePlaceholder() {
    openFolder(folderURL());
    clickRow(0, QStringLiteral("B"));
    waitUntilListed();
    QCOMPARE(browser().panels().at(1)->items().size(), 3);
    m_provider->failing.insert(folderURL(QStringLiteral("B")).absoluteString());
    LogCapture log;
    browser().refreshAllColumns();
    for (const auto& task : browser().tasks())
        runSync(task.result(), 10s);
    ColumnPanelView* panel = browser().panels().at(1);
    QVERIFY(panel->errorPlaceholder());
    QVERIFY(panel->items().isEmpty());
    QCOMPARE(log.messages(LogCapture::category("filesystem"))
                 .filter(QStringLiteral("Column 1 load failed: "))
                 .size(),
             1);
    // What can no longer be listed is no longer counted.
    QTRY_VERIFY(m_navigation->currentDirectoryContents.value().isEmpty());

    // Listed again successfully, the column shows its items once more.
    m_provider->failing.clear();
    browser().refreshAllColumns();
    for (const auto& task : browser().tasks())
        runSync(task.result(), 10s);
    QVERIFY(!panel->errorPlaceholder());
    QCOMPARE(panel->items().size(), 3);
}

void tst_ColumnBrowserViewController::searchFilter() {
    openFolder(folderURL());
    clickRow(0, QStringLiteral("B"));
    waitUntilListed();
    m_navigation->searchQuery = QStringLiteral(" \tjpg  ");
    QTRY_COMPARE(namesOf(browser().panels().at(0)->items()), QStringList{"d.jpg"});
    QCOMPARE(namesOf(browser().panels().at(1)->items()), (QStringList{"b1.jpg", "B2.JPG"}));
    // The unfiltered listing is what the window counts.
    QCOMPARE(m_navigation->currentDirectoryContents.value().size(), 3);
    // Rows map to the shown items.
    clickRow(1, QStringLiteral("B2.JPG"));
    QCOMPARE(namesOf(browser().selection()), QStringList{"B2.JPG"});
    m_navigation->searchQuery = QString();
    QTRY_COMPARE(browser().panels().at(1)->items().size(), 3);
    QCOMPARE(namesOf(browser().panels().at(1)->selectedItems()), QStringList{"B2.JPG"});
}

void tst_ColumnBrowserViewController::dragDivider(ColumnDividerView* divider,
                                                  const QList<QPair<double, bool>>& steps) {
    QPointF position(3, 10);
    const auto send = [divider](QEvent::Type type, QPointF at, Qt::KeyboardModifiers modifiers) {
        QMouseEvent event(type, at, divider->mapTo(divider->window(), at), divider->mapToGlobal(at),
                          Qt::LeftButton, type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          modifiers);
        QCoreApplication::sendEvent(divider, &event);
    };
    send(QEvent::MouseButtonPress, position, {});
    for (const auto& [delta, alt] : steps) {
        // The strip moves with its column, so each step is taken from where it stands now.
        const QPointF windowPoint = divider->mapTo(divider->window(), position) + QPointF(delta, 0);
        const QPointF local = divider->mapFrom(divider->window(), windowPoint);
        send(QEvent::MouseMove, local, alt ? Qt::AltModifier : Qt::NoModifier);
        position = divider->mapFrom(divider->window(), windowPoint);
    }
    send(QEvent::MouseButtonRelease, position, {});
}

void tst_ColumnBrowserViewController::dividers_data() {
    QTest::addColumn<QString>("divider");
    QTest::addColumn<DragSteps>("steps");
    QTest::addColumn<QList<int>>("widths");
    using Steps = DragSteps;
    QTest::newRow("three steps of ten")
        << "columnDivider-0" << Steps{{10, false}, {10, false}, {10, false}} << QList<int>{250, 300};
    QTest::newRow("alt pressed mid-drag")
        << "columnDivider-0" << Steps{{10, false}, {10, true}, {10, true}} << QList<int>{250, 320};
    QTest::newRow("alt drag to the minimum")
        << "trailingDivider" << Steps{{-150, true}} << QList<int>{100, 150};
    QTest::newRow("plain drag to the minimum")
        << "trailingDivider" << Steps{{-250, false}} << QList<int>{220, 100};
}

void tst_ColumnBrowserViewController::dividers() {
    QFETCH(QString, divider);
    QFETCH(DragSteps, steps);
    QFETCH(QList<int>, widths);
    openFolder(folderURL());
    clickRow(0, QStringLiteral("A"));
    waitUntilListed();
    browser().panels().at(1)->setColumnWidth(300);
    auto* strip = browser().findChild<ColumnDividerView*>(divider);
    QVERIFY(strip);
    // The plain left-right resize pointer, not the splitter's.
    QCOMPARE(strip->cursor().shape(), Qt::SizeHorCursor);
    dragDivider(strip, steps);
    QList<int> actual;
    for (ColumnPanelView* panel : browser().panels())
        actual.append(panel->columnWidth());
    QCOMPARE(actual, widths);
}

void tst_ColumnBrowserViewController::openThreeColumnsInANarrowBrowser() {
    browser().resize(600, 400);
    openFolder(folderURL());
    clickRow(0, QStringLiteral("A"));
    waitUntilListed();
    clickRow(1, QStringLiteral("sub"));
    waitUntilListed();
    QCOMPARE(columnNames(), (QStringList{"tree", "A", "sub"}));
}

void tst_ColumnBrowserViewController::openedColumnIsScrolledIntoView() {
    openThreeColumnsInANarrowBrowser();
    QWidget* viewport = browser().scrollView()->viewport();
    ColumnPanelView* last = browser().panels().last();
    const auto lastIsInView = [&] {
        const QRect shown(last->mapTo(viewport, QPoint(0, 0)), last->size());
        return viewport->rect().contains(shown.topLeft()) && shown.right() <= viewport->rect().right();
    };
    QTRY_VERIFY(lastIsInView());
    QVERIFY(browser().scrollView()->horizontalScrollBar()->value() > 0);
}

void tst_ColumnBrowserViewController::focusedColumnIsScrolledIntoView_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::newRow("Left to a column scrolled half out") << int(Qt::Key_Left) << 1 << 0;
    QTest::newRow("Right to a column scrolled half out") << int(Qt::Key_Right) << 1 << 2;
}

// The column the arrow keys move the keyboard to is shown whole, as a column just opened is: the
// rows the keys now move through are never half out of view.
void tst_ColumnBrowserViewController::focusedColumnIsScrolledIntoView() {
    QFETCH(int, key);
    QFETCH(int, from);
    QFETCH(int, to);
    openThreeColumnsInANarrowBrowser();
    QScrollBar* scroll = browser().scrollView()->horizontalScrollBar();
    // The column just opened is scrolled into view first.
    QTRY_VERIFY(scroll->value() > 0);
    QWidget* viewport = browser().scrollView()->viewport();
    ColumnPanelView* target = browser().panels().at(to);
    const auto wholeInView = [&] {
        const QRect shown(target->mapTo(viewport, QPoint(0, 0)), target->size());
        return shown.left() >= 0 && shown.right() <= viewport->rect().right();
    };
    // Half of the target column scrolled out of view.
    scroll->setValue(to == 0 ? target->width() / 2 : 0);
    QVERIFY(!wholeInView());
    ColumnTableView* table = browser().panels().at(from)->tableView();
    table->setFocus();
    QTest::keyClick(table, Qt::Key(key));
    QTRY_VERIFY(target->tableView()->hasFocus());
    QTRY_VERIFY(wholeInView());
}

void tst_ColumnBrowserViewController::deleteAsksForDeviceItems_data() {
    QTest::addColumn<bool>("onDevice");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("question");
    QTest::newRow("five device files") << true << 5 << 0 << "Delete \"a.txt, b.txt, c.txt and 2 more\"?";
    QTest::newRow("cancelled") << true << 3 << 1 << "Delete \"a.txt, b.txt, c.txt\"?";
    QTest::newRow("computer files") << false << 3 << 0 << "";
}

void tst_ColumnBrowserViewController::deleteAsksForDeviceItems() {
    QFETCH(bool, onDevice);
    QFETCH(int, count);
    QFETCH(int, answer);
    QFETCH(QString, question);
    fakemux::DeviceDescription description = describeDevice(udid);
    const QString folder =
        onDevice ? QString::fromStdString(description.mediaRoot.string()) + QStringLiteral("/Pics")
                 : scratchPath(QStringLiteral("pics"));
    const QStringList names{"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"};
    for (qsizetype i = 0; i < count; ++i)
        QVERIFY(writeTestFile(folder + u'/' + names[i], "x"));
    addDevice(description);
    openFolder(onDevice ? AFCLocation::mediaURL(udid, QStringLiteral("/Pics")) : URL::fileURL(folder, true));
    browser().selectAllItems();
    QCOMPARE(browser().selection().size(), count);
    m_presenter->next.code = AlertResponse::firstButton + answer;
    browser().deleteSelection();
    for (const auto& task : browser().tasks())
        runSync(task.result(), 20s);
    if (question.isEmpty()) {
        QVERIFY(m_presenter->requests.isEmpty());
    } else {
        QCOMPARE(m_presenter->requests.size(), 1);
        const AlertRequest& asked = m_presenter->requests.first();
        QCOMPARE(asked.message, question);
        QCOMPARE(asked.informative,
                 QStringLiteral("This will permanently delete the file(s) from your device."));
        QCOMPARE(asked.buttons, (QStringList{"Delete", "Cancel"}));
    }
    const QStringList left = QDir(folder).entryList(QDir::Files);
    QCOMPARE(left.size(), answer == 0 ? 0 : count);
    if (answer == 0) {
        // Listed again: the column is empty now.
        for (const auto& task : browser().tasks())
            runSync(task.result(), 20s);
        QTRY_VERIFY(browser().panels().first()->items().isEmpty());
    }
}

void tst_ColumnBrowserViewController::deleteFailureSummary_data() {
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("informative");
    QTest::newRow("two of four") << QStringList{"b.txt", "d.txt"} << "Could not delete 2 items"
                                 << "b.txt\nd.txt";
    QTest::newRow("one of four") << QStringList{"c.txt"} << "Could not delete \"c.txt\""
                                 << "c.txt";
}

void tst_ColumnBrowserViewController::deleteFailureSummary() {
    QFETCH(QStringList, refused);
    QFETCH(QString, message);
    QFETCH(QString, informative);
    const QString folder = scratchPath(QStringLiteral("pics"));
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"})
        QVERIFY(writeTestFile(folder + u'/' + name, "x"));
    m_provider->refusedDeletes = QSet<QString>(refused.begin(), refused.end());
    openFolder(URL::fileURL(folder, true));
    browser().selectAllItems();
    LogCapture log;
    browser().deleteSelection();
    for (const auto& task : browser().tasks())
        runSync(task.result(), 20s);
    QCOMPARE(m_presenter->requests.size(), 1);
    QCOMPARE(m_presenter->requests.first().message, message);
    QCOMPARE(m_presenter->requests.first().informative, informative);
    QCOMPARE(log.messages(LogCapture::category("ui")).filter(QStringLiteral("Delete failed for ")).size(),
             refused.size());
    QStringList left = QDir(folder).entryList(QDir::Files);
    QCOMPARE(left, refused);
}

void tst_ColumnBrowserViewController::duplicateNames_data() {
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("onDevice");
    QTest::addColumn<QString>("duplicate");
    QTest::newRow("first copy") << QStringList{"IMG_0001.JPG"} << "IMG_0001.JPG" << false
                                << "IMG_0001 copy.JPG";
    QTest::newRow("an existing copy") << QStringList{"IMG_0001.JPG", "IMG_0001 copy.JPG"} << "IMG_0001.JPG"
                                      << false << "IMG_0001 copy 2.JPG";
    QTest::newRow("hidden name") << QStringList{".bashrc"} << ".bashrc" << false << ".bashrc copy";
    QTest::newRow("folder") << QStringList{"Photos/"} << "Photos" << false << "Photos copy";
    QTest::newRow("a folder holds the copy's name")
        << QStringList{"notes.txt", "notes copy.txt/"} << "notes.txt" << false << "notes copy 2.txt";
    QTest::newRow("double extension")
        << QStringList{"archive.tar.gz"} << "archive.tar.gz" << false << "archive.tar copy.gz";
    QTest::newRow("dangling link holds the name")
        << QStringList{"a.txt", "@a copy.txt"} << "a.txt" << false << "a copy 2.txt";
    QTest::newRow("device never looks") << QStringList{} << "IMG_0001.JPG" << true << "IMG_0001 copy.JPG";
}

void tst_ColumnBrowserViewController::duplicateNames() {
    QFETCH(QStringList, existing);
    QFETCH(QString, name);
    QFETCH(bool, onDevice);
    QFETCH(QString, duplicate);
    const QString folder = scratchPath(QStringLiteral("dup"));
    for (const QString& entry : existing) {
        if (entry.startsWith(u'@'))
            QVERIFY(QFile::link(folder + QStringLiteral("/nowhere"), folder + u'/' + entry.mid(1)));
        else if (entry.endsWith(u'/'))
            QVERIFY(QDir().mkpath(folder + u'/' + entry));
        else
            QVERIFY(writeTestFile(folder + u'/' + entry, "x"));
    }
    const URL url =
        onDevice ? AFCLocation::mediaURL(udid, QStringLiteral("/DCIM/")) : URL::fileURL(folder, true);
    QCOMPARE(ColumnBrowserViewController::uniqueDuplicateName(name, url), duplicate);
}

void tst_ColumnBrowserViewController::pasteWithoutFocusGoesToLastColumn() {
    openFolder(folderURL());
    clickRow(0, QStringLiteral("c.txt"));
    browser().copySelection();
    QCOMPARE(namesOf(m_clipboard->items.value()), QStringList{"c.txt"});
    clickRow(0, QStringLiteral("A"));
    waitUntilListed();
    clickRow(1, QStringLiteral("sub"));
    waitUntilListed();
    for (ColumnPanelView* panel : browser().panels())
        panel->tableView()->clearFocus();
    QCOMPARE(browser().focusedColumn(), 2);
    QVERIFY(browser().canPaste());
    browser().paste();
    for (const auto& task : browser().tasks())
        runSync(task.result(), 20s);
    QVERIFY(QFile::exists(m_root + QStringLiteral("/A/sub/c.txt")));
    QVERIFY(!QFile::exists(m_root + QStringLiteral("/A/c.txt")));
    // Listed again after the paste.
    QTRY_COMPARE(namesOf(browser().panels().at(2)->items()), (QStringList{"c.txt", "deep.txt"}));
}

// A copy into a phone's folder that ended tells every browser to list its folders again; the
// paste's own end lists nothing more (a phone's folder of thousands of photos is slow to read).
void tst_ColumnBrowserViewController::aPasteIntoAPhoneFolderReadsItOnce() {
    fakemux::DeviceDescription description = describeDevice(udid);
    QVERIFY(writeTestFile(
        QString::fromStdString(description.mediaRoot.string()) + QStringLiteral("/Pics/a.txt"), "x"));
    addDevice(description);
    const QList<FileItem> tree = runSync(m_provider->listDirectory(folderURL()));
    const auto c =
        std::find_if(tree.begin(), tree.end(), [](const FileItem& item) { return item.name() == u"c.txt"; });
    QVERIFY(c != tree.end());
    const URL pics = AFCLocation::mediaURL(udid, QStringLiteral("/Pics"));
    openFolder(pics);
    m_clipboard->items = QList<FileItem>{*c};
    m_clipboard->mode = ClipboardManager::Mode::copy;
    QTRY_COMPARE(m_provider->listingsEnded, m_provider->listings);
    m_provider->listedPaths.clear();

    browser().paste();
    for (const auto& task : browser().tasks())
        runSync(task.result(), 20s);
    QTRY_COMPARE(namesOf(browser().panels().first()->items()), (QStringList{"a.txt", "c.txt"}));
    QCoreApplication::sendPostedEvents();
    QTRY_COMPARE(m_provider->listingsEnded, m_provider->listings);
    QCOMPARE(m_provider->listedPaths.count(pics.path()), 1);
}

void tst_ColumnBrowserViewController::commandsWithoutSelection() {
    ColumnBrowserViewController empty(m_provider, *m_navigation, m_transfers, nullptr, m_timers);
    empty.clipboardManager = m_clipboard.get();
    // No columns: nothing to paste into, rename or select.
    QVERIFY(!empty.canPaste());
    empty.paste();
    empty.renameSelection();
    empty.selectAllItems();
    QVERIFY(empty.tasks().isEmpty());

    openFolder(folderURL());
    m_clipboard->items = QList<FileItem>{browser().columns().first().items.first()};
    // A folder selected is a selection: selected and then unselected, nothing is.
    clickRow(0, QStringLiteral("A"));
    QVERIFY(browser().hasSelection());
    clickRow(0, QStringLiteral("A"), Qt::ControlModifier);
    QVERIFY(!browser().hasSelection());
    browser().cutSelection();
    browser().copySelection();
    QCOMPARE(m_clipboard->mode.value(), ClipboardManager::Mode::copy);
    QCOMPARE(namesOf(m_clipboard->items.value()), QStringList{"A"});
}

void tst_ColumnBrowserViewController::selectAllPublishesOnce_data() {
    QTest::addColumn<QString>("before"); // the row clicked first; "" for none
    QTest::addColumn<bool>("twice");     // Select All pressed again with everything selected
    QTest::addColumn<int>("columns");    // the columns open before Select All
    QTest::newRow("nothing selected") << "" << false << 1;
    QTest::newRow("an open folder's column is cut back") << "A" << false << 2;
    QTest::newRow("everything selected already") << "c.txt" << true << 1;
}

// Every selected row once, in one publication: the window's subscribers (status bar, preview,
// toolbar) each do their work once for it.
void tst_ColumnBrowserViewController::selectAllPublishesOnce() {
    QFETCH(QString, before);
    QFETCH(bool, twice);
    QFETCH(int, columns);
    openFolder(folderURL());
    if (!before.isEmpty()) {
        clickRow(0, before);
        waitUntilListed();
    }
    QCOMPARE(browser().columns().size(), columns);
    browser().panels().first()->tableView()->setFocus();
    if (twice)
        browser().selectAllItems();
    int publications = 0;
    const Subscription counting =
        m_navigation->selectedItems.subscribe([&publications](const QSet<FileItem>&) { ++publications; });
    publications = 0;
    browser().selectAllItems();
    QCOMPARE(publications, 1);
    QCOMPARE(browser().columns().size(), 1);
    const qsizetype all = browser().columns().first().items.size();
    QCOMPARE(browser().selection().size(), all);
    QCOMPARE(m_navigation->selectedItems.value().size(), all);
}

void tst_ColumnBrowserViewController::renameListsTheColumnsAgain() {
    openFolder(folderURL());
    clickRow(0, QStringLiteral("d.jpg"));
    browser().renameSelection();
    ColumnPanelView* panel = browser().panels().first();
    QVERIFY(panel->renameTextField());
    panel->renameTextField()->setText(QStringLiteral("e.jpg"));
    QTest::keyClick(panel->renameTextField(), Qt::Key_Return);
    for (const auto& task : panel->renameTasks())
        runSync(task.result(), 10s);
    QTRY_VERIFY(namesOf(panel->items()).contains(QStringLiteral("e.jpg")));
    QVERIFY(!namesOf(panel->items()).contains(QStringLiteral("d.jpg")));
    QVERIFY(QFile::exists(m_root + QStringLiteral("/e.jpg")));
}

void tst_ColumnBrowserViewController::renameOutcome_data() {
    QTest::addColumn<QString>("where"); // "tree" or "device" (its Pics folder)
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("selected"); // the row selected afterwards
    QTest::addColumn<QString>("alert");    // the alert's message; "" for none
    QTest::newRow("computer: renamed, still selected") << "tree" << "e.jpg" << "e.jpg" << "";
    QTest::newRow("computer: the name is taken")
        << "tree" << "c.txt" << "d.jpg" << "The name \"c.txt\" is already taken.";
    QTest::newRow("device: renamed, still selected") << "device" << "e.jpg" << "e.jpg" << "";
    QTest::newRow("device: the name is taken")
        << "device" << "c.txt" << "d.jpg" << "The name \"c.txt\" is already taken.";
}

// The renamed row stays the selection under its new name; a name already taken renames nothing
// and an alert says so.
void tst_ColumnBrowserViewController::renameOutcome() {
    QFETCH(QString, where);
    QFETCH(QString, typed);
    QFETCH(QString, selected);
    QFETCH(QString, alert);
    URL folder = folderURL();
    if (where == u"device") {
        fakemux::DeviceDescription description = describeDevice(udid);
        m_mediaRoot = QString::fromStdString(description.mediaRoot.string());
        for (const char* name : {"c.txt", "d.jpg"})
            QVERIFY(writeTestFile(pathOf(QStringLiteral("device/") + name), "x"));
        addDevice(description);
        folder = AFCLocation::mediaURL(udid, QStringLiteral("/Pics"));
    }
    openFolder(folder);
    clickRow(0, QStringLiteral("d.jpg"));
    ColumnPanelView* panel = browser().panels().first();
    QTest::keyClick(panel->tableView(), Qt::Key_Return);
    QVERIFY(panel->renameTextField());
    panel->renameTextField()->setText(typed);
    QTest::keyClick(panel->renameTextField(), Qt::Key_Return);
    for (const auto& task : panel->renameTasks())
        runSync(task.result(), 10s);
    QTRY_VERIFY(namesOf(panel->items()).contains(selected));
    waitUntilListed();
    QTRY_COMPARE(namesOf(browser().selection()), QStringList{selected});
    QTRY_COMPARE(m_navigation->selectedItems.value().size(), 1);
    QCOMPARE(m_navigation->selectedItems.value().begin()->name(), selected);
    QCOMPARE(namesOf(panel->selectedItems()), QStringList{selected});
    QVERIFY(QFile::exists((where == u"device" ? m_mediaRoot + QStringLiteral("/Pics") : m_root) + u'/' + selected));
    QTRY_COMPARE(m_presenter->requests.size(), alert.isEmpty() ? 0 : 1);
    if (alert.isEmpty())
        return;
    const AlertRequest& request = m_presenter->requests.first();
    QCOMPARE(request.message, alert);
    QCOMPARE(request.informative, QStringLiteral("Please choose a different name."));
    QCOMPARE(request.buttons, QStringList{QStringLiteral("OK")});
}

// Right into the next column selects its first row, so that the next Down goes to the second.
void tst_ColumnBrowserViewController::rightSelectsTheFirstRow() {
    openFolder(folderURL());
    clickRow(0, QStringLiteral("B"));
    waitUntilListed();
    ColumnTableView* first = browser().panels().first()->tableView();
    first->setFocus();
    QTest::keyClick(first, Qt::Key_Right);
    ColumnPanelView* next = browser().panels().at(1);
    QTRY_VERIFY(next->tableView()->hasFocus());
    const QList<FileItem> shown = next->items();
    QVERIFY(shown.size() >= 2);
    QCOMPARE(namesOf(next->selectedItems()), QStringList{shown.first().name()});
    QTRY_COMPARE(namesOf(browser().selection()), QStringList{shown.first().name()});
    QTest::keyClick(next->tableView(), Qt::Key_Down);
    QCOMPARE(namesOf(next->selectedItems()), QStringList{shown.at(1).name()});
    QTRY_COMPARE(namesOf(browser().selection()), QStringList{shown.at(1).name()});
}

void tst_ColumnBrowserViewController::arrowsMoveFromTheSelectedRow_data() {
    QTest::addColumn<QString>("before"); // what happened between the click on B and the key
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("step"); // from B's row; 0 for the first row
    QTest::newRow("Down after Left") << "right, relist, left" << int(Qt::Key_Down) << 1;
    QTest::newRow("Up after Left") << "right, relist, left" << int(Qt::Key_Up) << -1;
    QTest::newRow("Down in a column listed again") << "relist" << int(Qt::Key_Down) << 1;
    QTest::newRow("Down with nothing selected") << "deselect, focus" << int(Qt::Key_Down) << 0;
}

// Up and Down go on from the row shown selected, whatever row the list last had as its own
// current one (a listing again forgets it, the column entered by Left never had it); with nothing
// selected they start at the first row.
void tst_ColumnBrowserViewController::arrowsMoveFromTheSelectedRow() {
    QFETCH(QString, before);
    QFETCH(int, key);
    QFETCH(int, step);
    openFolder(folderURL());
    clickRow(0, QStringLiteral("B"));
    waitUntilListed();
    ColumnPanelView* first = browser().panels().first();
    const QStringList shown = namesOf(first->items());
    const int from = int(shown.indexOf(QStringLiteral("B")));
    QVERIFY(from >= 1 && from + 1 < shown.size());
    first->tableView()->setFocus();
    for (const QString& action : before.split(QStringLiteral(", "))) {
        if (action == u"right") {
            QTest::keyClick(first->tableView(), Qt::Key_Right);
            QTRY_VERIFY(browser().panels().at(1)->tableView()->hasFocus());
        } else if (action == u"relist") {
            const int listed = m_provider->listings + int(browser().columns().size());
            browser().refreshAllColumns();
            QTRY_COMPARE(m_provider->listings, listed);
            waitUntilListed();
            QCOMPARE(namesOf(first->selectedItems()), QStringList{"B"});
        } else if (action == u"left") {
            QTest::keyClick(browser().panels().at(1)->tableView(), Qt::Key_Left);
            QTRY_VERIFY(first->tableView()->hasFocus());
        } else if (action == u"deselect") {
            first->tableView()->clearSelection();
            QTRY_COMPARE(browser().panels().size(), 1);
            first->tableView()->clearFocus();
        } else if (action == u"focus") {
            first->tableView()->setFocus(Qt::TabFocusReason);
        }
    }
    QTest::keyClick(first->tableView(), Qt::Key(key));
    const QString expected = shown.at(step == 0 ? 0 : from + step);
    QCOMPARE(namesOf(first->selectedItems()), QStringList{expected});
    QTRY_COMPARE(namesOf(browser().selection()), QStringList{expected});
}

void tst_ColumnBrowserViewController::changedOpenFolderKeepsNoDeadColumn_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QStringList>("columns");
    // The folders the path bar ends with, and what the column before the last one selects.
    QTest::addColumn<QString>("lastFolder");
    QTest::addColumn<QString>("selectedBeforeLast");
    QTest::newRow("rename the open folder") << "rename:sub2"
                                            << "sub" << QStringList{"tree", "A", "sub2"} << "A/sub2"
                                            << "sub2";
    QTest::newRow("rename a folder above the open one") << "rename:A2"
                                                        << "A" << QStringList{"tree", "A2", "sub"}
                                                        << "A2/sub"
                                                        << "sub";
    QTest::newRow("delete the open folder") << "delete"
                                            << "sub" << QStringList{"tree", "A"} << "A"
                                            << "A";
    QTest::newRow("delete a folder above it") << "delete"
                                              << "A" << QStringList{"tree"} << ""
                                              << "";
    QTest::newRow("cut and paste it elsewhere") << "move:B"
                                                << "sub" << QStringList{"tree", "A"} << "A"
                                                << "A";
}

void tst_ColumnBrowserViewController::changedOpenFolderKeepsNoDeadColumn() {
    QFETCH(QString, change);
    QFETCH(QString, item);
    QFETCH(QStringList, columns);
    QFETCH(QString, lastFolder);
    QFETCH(QString, selectedBeforeLast);
    openFolder(folderURL());
    clickRow(0, QStringLiteral("A"));
    waitUntilListed();
    clickRow(1, QStringLiteral("sub"));
    waitUntilListed();
    const int column = item == u"A" ? 0 : 1;
    ColumnPanelView* panel = browser().panels().at(column);
    const FileItem target = panel->items().at(namesOf(panel->items()).indexOf(item));
    if (change.startsWith(QStringLiteral("rename:"))) {
        panel->beginRename(target);
        QVERIFY(panel->renameTextField());
        panel->renameTextField()->setText(change.section(u':', 1));
        QTest::keyClick(panel->renameTextField(), Qt::Key_Return);
        for (const auto& task : panel->renameTasks())
            runSync(task.result(), 10s);
    } else if (change == u"delete") {
        browser().deleteItems({target});
    } else {
        browser().copyItems({target}, true);
        browser().pasteInto(folderURL(change.section(u':', 1)));
    }
    for (int round = 0; round < 3; ++round) {
        for (const auto& task : browser().tasks())
            runSync(task.result(), 20s);
    }
    waitUntilListed();
    QCOMPARE(columnNames(), columns);
    for (ColumnPanelView* each : browser().panels())
        QVERIFY2(!each->errorPlaceholder(), qPrintable(each->directoryPath.absoluteString()));
    // The path bar ends at the last column, the folder each column lists.
    QCOMPARE(m_navigation->columnPaths.value().last(), browser().columns().last().path);
    QCOMPARE(browser().columns().last().path.isSameLocation(folderURL(lastFolder)), true);
    for (int index = 0; index < browser().panels().size(); ++index)
        QCOMPARE(browser().panels().at(index)->directoryPath, browser().columns().at(index).path);
    if (browser().panels().size() > 1) {
        const QList<FileItem> selected = browser().panels().at(browser().panels().size() - 2)->selectedItems();
        QCOMPARE(namesOf(selected), QStringList{selectedBeforeLast});
    }
    QCOMPARE(namesOf(m_navigation->currentDirectoryContents.value()),
             namesOf(browser().columns().last().items));
}

QString tst_ColumnBrowserViewController::pathOf(const QString& key) const {
    const QString rest = key.section(u'/', 1);
    if (key.startsWith(QStringLiteral("device/")))
        return m_mediaRoot + QStringLiteral("/Pics/") + rest;
    if (key.startsWith(QStringLiteral("outside/")))
        return m_home.filePath(QStringLiteral("outside/") + rest);
    return m_root + u'/' + rest;
}

URL tst_ColumnBrowserViewController::locationOf(const QString& key) const {
    if (key.startsWith(QStringLiteral("device/")))
        return AFCLocation::mediaURL(udid, QStringLiteral("/Pics/") + key.section(u'/', 1));
    return URL::fileURL(pathOf(key), key.endsWith(u'/'));
}

std::unique_ptr<QMimeData> tst_ColumnBrowserViewController::dragData(const QStringList& sources,
                                                                     bool internal) const {
    QList<FileItem> items;
    QList<QUrl> urls;
    for (const QString& source : sources) {
        const URL url = locationOf(source);
        items.append(FileItem(url.absoluteString(), url.lastPathComponent(), url, source.endsWith(u'/'), 5,
                              Date(0), FileKind::other, std::nullopt));
        urls.append(QUrl::fromLocalFile(pathOf(source)));
    }
    if (internal)
        return std::make_unique<OrvantaDragMimeData>(items);
    auto data = std::make_unique<QMimeData>();
    data->setUrls(urls);
    return data;
}

void tst_ColumnBrowserViewController::rowDrops_data() {
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<bool>("internal");
    QTest::addColumn<QString>("onto");
    QTest::addColumn<bool>("alt");
    QTest::addColumn<RowDropRules::Operation>("shown");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    using Op = RowDropRules::Operation;
    QTest::newRow("a computer file onto a folder moves")
        << QStringList{"tree/c.txt"} << true << "A" << false << Op::move << QStringList{"tree/A/c.txt"}
        << QStringList{"tree/c.txt"};
    QTest::newRow("Alt copies") << QStringList{"tree/c.txt", "tree/d.jpg"} << true << "A" << true << Op::copy
                                << QStringList{"tree/A/c.txt", "tree/A/d.jpg", "tree/c.txt", "tree/d.jpg"}
                                << QStringList{};
    QTest::newRow("another program's file copies")
        << QStringList{"outside/o.txt"} << false << "A" << false << Op::copy
        << QStringList{"tree/A/o.txt", "outside/o.txt"} << QStringList{};
    QTest::newRow("a device file shows move but copies")
        << QStringList{"device/p.jpg"} << true << "B" << false << Op::move
        << QStringList{"tree/B/p.jpg", "device/p.jpg"} << QStringList{};
    QTest::newRow("below the rows of its own folder: refused")
        << QStringList{"tree/c.txt"} << true << "" << false << Op::none << QStringList{"tree/c.txt"}
        << QStringList{};
    QTest::newRow("a folder into itself: refused")
        << QStringList{"tree/A/"} << true << "A" << false << Op::none << QStringList{"tree/A/a1.txt"}
        << QStringList{"tree/A/A"};
    QTest::newRow("onto a file row: refused") << QStringList{"outside/o.txt"} << false << "d.jpg" << false
                                              << Op::none << QStringList{} << QStringList{"tree/o.txt"};
}

void tst_ColumnBrowserViewController::rowDrops() {
    QFETCH(QStringList, sources);
    QFETCH(bool, internal);
    QFETCH(QString, onto);
    QFETCH(bool, alt);
    QFETCH(RowDropRules::Operation, shown);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    fakemux::DeviceDescription description = describeDevice(udid);
    m_mediaRoot = QString::fromStdString(description.mediaRoot.string());
    QVERIFY(writeTestFile(pathOf("device/p.jpg"), "photo"));
    QVERIFY(writeTestFile(pathOf("outside/o.txt"), "other"));
    addDevice(description);
    openFolder(folderURL());

    const std::unique_ptr<QMimeData> data = dragData(sources, internal);
    ColumnPanelView* panel = browser().panels().first();
    ColumnTableView* table = panel->tableView();
    const int row = int(namesOf(panel->items()).indexOf(onto));
    const QPoint pos = onto.isEmpty() ? QPoint(20, table->viewport()->height() - 5)
                                      : table->visualRect(panel->model()->index(row)).center();
    const Qt::KeyboardModifiers modifiers = alt ? Qt::AltModifier : Qt::NoModifier;
    QCOMPARE(hover(table->viewport(), pos, data.get(), modifiers), shown != RowDropRules::Operation::none);
    QCOMPARE(table->dropHighlight().operation, shown);
    QCOMPARE(table->dropHighlight().row, shown == RowDropRules::Operation::none ? -1 : row);
    // The platform drops only where the last move was taken.
    QCOMPARE(endDrag(table->viewport(), pos, data.get(), modifiers, shown != RowDropRules::Operation::none),
             shown != RowDropRules::Operation::none);
    QCOMPARE(table->dropHighlight().operation, RowDropRules::Operation::none);
    for (const auto& task : panel->dropTasks())
        runSync(task.result(), 20s);
    for (const QString& key : present)
        QVERIFY2(QFileInfo::exists(pathOf(key)), qPrintable(key));
    for (const QString& key : absent)
        QVERIFY2(!QFileInfo::exists(pathOf(key)), qPrintable(key));
    if (internal)
        QCOMPARE(static_cast<OrvantaDragMimeData*>(data.get())->externalURLRequests(), 0);
}

void tst_ColumnBrowserViewController::dropsBesideTheColumns_data() {
    QTest::addColumn<bool>("internal");
    QTest::addColumn<bool>("drop");
    QTest::addColumn<bool>("highlighted");
    QTest::newRow("another program's file goes to the last column") << false << true << true;
    QTest::newRow("leaving takes the highlight away") << false << false << true;
    QTest::newRow("our own drag is refused there") << true << true << false;
}

void tst_ColumnBrowserViewController::dropsBesideTheColumns() {
    QFETCH(bool, internal);
    QFETCH(bool, drop);
    QFETCH(bool, highlighted);
    QVERIFY(writeTestFile(pathOf("outside/o.txt"), "other"));
    openFolder(folderURL());
    clickRow(0, "A");
    waitUntilListed();
    QCOMPARE(columnNames(), (QStringList{"tree", "A"}));
    // The keyboard is in the first column; the drop still goes to the last one.
    browser().panels().first()->tableView()->setFocus();

    const std::unique_ptr<QMimeData> data = dragData({"outside/o.txt"}, internal);
    DropAcceptingScrollView* view = browser().scrollView();
    QWidget* stretch = view->widget();
    const QPoint pos(stretch->width() - 5, 40);
    QCOMPARE(hover(stretch, pos, data.get(), {}), highlighted);
    QCOMPARE(view->isHighlighted(), highlighted);
    QCOMPARE(endDrag(stretch, pos, data.get(), {}, drop && highlighted), drop && highlighted);
    QVERIFY(!view->isHighlighted());
    if (drop && highlighted)
        QTRY_VERIFY(QFileInfo::exists(pathOf("tree/A/o.txt")));
    else
        QCOMPARE(m_transfers->activeTransfers.value().size(), 0);
    QVERIFY(!QFileInfo::exists(pathOf("tree/o.txt")));
    if (internal)
        QCOMPARE(static_cast<OrvantaDragMimeData*>(data.get())->externalURLRequests(), 0);
}

void tst_ColumnBrowserViewController::contextMenuActsOnItsRows_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<QStringList>("clipboard");
    QTest::newRow("move to trash") << "Move to Trash" << QStringList{} << QStringList{"tree/A"}
                                   << QStringList{};
    QTest::newRow("copy") << "Copy" << QStringList{"tree/A"} << QStringList{} << QStringList{"A"};
    QTest::newRow("duplicate") << "Duplicate" << QStringList{"tree/A copy/a1.txt", "tree/A"} << QStringList{}
                               << QStringList{};
}

void tst_ColumnBrowserViewController::contextMenuActsOnItsRows() {
    QFETCH(QString, title);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    QFETCH(QStringList, clipboard);
    openFolder(folderURL());
    // A right click on a folder selects its row and so opens its column; the folder is also the
    // selection the window's own commands act on.
    clickRow(0, "A", {}, Qt::RightButton);
    waitUntilListed();
    QCOMPARE(namesOf(browser().selection()), QStringList{"A"});
    std::unique_ptr<QMenu> menu(browser().panels().first()->makeContextMenu());
    QVERIFY(menu);
    QAction* chosen = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->text() == title)
            chosen = action;
    }
    QVERIFY(chosen && chosen->isEnabled());
    chosen->trigger();
    for (const auto& task : browser().tasks())
        runSync(task.result(), 20s);
    for (const QString& key : present)
        QTRY_VERIFY2(QFileInfo::exists(pathOf(key)), qPrintable(key));
    for (const QString& key : absent)
        QVERIFY2(!QFileInfo::exists(pathOf(key)), qPrintable(key));
    QCOMPARE(namesOf(m_clipboard->items.value()), clipboard);
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_ColumnBrowserViewController)
#include "tst_ColumnBrowserViewController.moc"
