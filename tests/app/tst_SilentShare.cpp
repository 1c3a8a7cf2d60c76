// The window over a share that stops answering: a recent folder and a favourite on a file system
// whose server is silent (a FUSE mount nobody serves) must never stop the window's thread, while
// the window is made, while they are added, and while the user goes to them, duplicates an item
// there and goes away again; the phone's folders list meanwhile; once the share is gone, the rows
// say so. Needs root and /dev/fuse.

#include "DeviceTestCase.h"
#include "ScriptedAlertPresenter.h"
#include "SilentMount.h"
#include "WidgetDeviceTestMain.h"
#include "app/MainWindowController.h"
#include "browser/BrowserContainerController.h"
#include "browser/ColumnBrowserViewController.h"
#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "browser/FileItemListModel.h"
#include "device/DeviceManager.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunner.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "platform/async/TaskHandle.h"
#include "services/FavoritesManager.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "sidebar/SidebarModel.h"
#include "sidebar/SidebarViewController.h"
#include "transfer/TransferManager.h"

#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QTemporaryDir>
#include <QTreeView>

#include <functional>

using namespace std::chrono_literals;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");

} // namespace

class tst_SilentShare : public DeviceTestCase {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void theWindowAnswersWhileAShareIsSilent();
    void theContextMenuAnswersWhileAPlaceIsSilent_data();
    void theContextMenuAnswersWhileAPlaceIsSilent();

private:
    // Runs the step, then checks that the window's thread runs a call posted to it within a
    // second of the step's start: what the step set off must not hold the thread in a look.
    void answersDuring(const char* step, const std::function<void()>& action);
    SidebarViewController* sidebar() const;
    // The names the window publishes for the folder shown.
    QStringList shownNames() const;
    // The row's alpha (1 shown, 0.4 grey), by section and title; -1 when there is no such row.
    double rowAlpha(const QString& section, const QString& title) const;
    QModelIndex row(const QString& section, const QString& title) const;
    void makeController();
    // The place's folder (as the desktop's settings name it) moved to path.
    void movePlace(const char* key, const QString& path);

    QTemporaryDir m_home;
    async::ManualClock m_clock;
    NotificationCenter m_notifications;
    std::unique_ptr<DeviceManager> m_deviceManager;
    std::shared_ptr<TransferManager> m_transferManager;
    std::shared_ptr<FileSystemProvider> m_provider;
    std::unique_ptr<MainWindowController> m_controller;
    // Goes first at the end of each test, so that nothing waits on it afterwards.
    std::unique_ptr<SilentMount> m_share;
    int m_tasksBefore = 0;
};

void tst_SilentShare::initTestCase() {
    QVERIFY(m_home.isValid());
    for (const char* place : {"Desktop", "Documents", "Downloads", "Music", ".config", "data"})
        QVERIFY(QDir(m_home.path()).mkpath(place));
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral(".config")).toUtf8());
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvanta-test-bus");
    UserDefaults::setStandardFilePathForTesting(m_home.filePath(QStringLiteral("defaults.plist")));
}

void tst_SilentShare::init() {
    setUpTest();
    m_tasksBefore = async::spawnedTasksRunning();
    UserDefaults& defaults = PreferencesViewController::defaults();
    for (const QString& key : defaults.keys())
        defaults.remove(key);
    m_deviceManager = std::make_unique<DeviceManager>(
        std::make_shared<IMobileDeviceBridge>(std::make_shared<ProcessRunner>()));
    m_transferManager = std::make_shared<TransferManager>(defaults, m_clock, m_notifications);
    m_provider = std::make_shared<FileSystemProvider>(*m_deviceManager->afcBridge(), m_clock);
}

void tst_SilentShare::cleanup() {
    // Whatever the test left waiting on the share fails now and ends.
    m_share.reset();
    QFile::remove(m_home.filePath(QStringLiteral(".config/user-dirs.dirs")));
    m_controller.reset();
    QTRY_VERIFY_WITH_TIMEOUT(async::spawnedTasksRunning() <= m_tasksBefore, 20000);
    m_transferManager.reset();
    m_provider.reset();
    m_deviceManager.reset();
    tearDownTest();
}

void tst_SilentShare::makeController() {
    m_controller = std::make_unique<MainWindowController>(
        *m_deviceManager, m_transferManager, std::make_shared<ScriptedAlertPresenter>(), m_provider);
}

void tst_SilentShare::movePlace(const char* key, const QString& path) {
    QFile settings(m_home.filePath(QStringLiteral(".config/user-dirs.dirs")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(QByteArray(key) + "=\"" + QFile::encodeName(path) + "\"\n");
}

void tst_SilentShare::answersDuring(const char* step, const std::function<void()>& action) {
    QElapsedTimer clock;
    clock.start();
    action();
    auto ranAt = std::make_shared<qint64>(-1);
    QMetaObject::invokeMethod(
        qApp, [ranAt, clock] { *ranAt = clock.elapsed(); }, Qt::QueuedConnection);
    // Waits far longer than a second: a thread stuck in a look is freed by the share's watchdog,
    // and the figure then says how long it was held.
    QTRY_VERIFY_WITH_TIMEOUT(*ranAt >= 0, 60000);
    QVERIFY2(
        *ranAt < 1000,
        qPrintable(
            QStringLiteral("%1: the window's thread was held %2 ms").arg(QLatin1String(step)).arg(*ranAt)));
    QVERIFY2(!m_share->watchdogFired(), step);
}

QStringList tst_SilentShare::shownNames() const {
    QStringList names;
    for (const FileItem& item : m_controller->navigationState().currentDirectoryContents.value())
        names << item.name();
    return names;
}

SidebarViewController* tst_SilentShare::sidebar() const {
    return qobject_cast<SidebarViewController*>(m_controller->sidebarView());
}

QModelIndex tst_SilentShare::row(const QString& section, const QString& title) const {
    const QAbstractItemModel& model = sidebar()->model();
    for (int s = 0; s < model.rowCount(); ++s) {
        const QModelIndex header = model.index(s, 0);
        if (header.data().toString() != section)
            continue;
        for (int r = 0; r < model.rowCount(header); ++r) {
            if (const QModelIndex index = model.index(r, 0, header); index.data().toString() == title)
                return index;
        }
    }
    return {};
}

double tst_SilentShare::rowAlpha(const QString& section, const QString& title) const {
    const QModelIndex index = row(section, title);
    return index.isValid() ? index.data(SidebarModel::AlphaRole).toDouble() : -1;
}

// A recent folder (and the folder that holds it) and a favourite on the silent share, with a
// recent folder and the places beside them on this computer: made while the window is shown,
// gone to (an item there duplicated, a folder of the phone listed meanwhile) and left, and made
// into a new window; then the share goes away.
void tst_SilentShare::theWindowAnswersWhileAShareIsSilent() {
    const QString music = m_home.filePath(QStringLiteral("Music"));
    m_share = std::make_unique<SilentMount>(scratchPath(QStringLiteral("mnt")), 20s);
    if (!m_share->isMounted())
        QSKIP(qPrintable(QStringLiteral("no silent share here: ") + m_share->failure()));
    const URL projects = URL::fileURL(m_share->path() + QStringLiteral("/Projects"), true);
    const URL films = URL::fileURL(m_share->path() + QStringLiteral("/Films"), true);

    addDevice(describeDevice(udid, QStringLiteral("Studio iPhone")));
    async::runSync(m_deviceManager->scanForDevices(), 30s);
    makeController();
    QTRY_VERIFY(m_controller->isShowingBrowser());
    QTRY_VERIFY(sidebar() && row(QStringLiteral("DEVICES"), QStringLiteral("Studio iPhone")).isValid());
    NavigationState& navigation = m_controller->navigationState();

    answersDuring("adding a recent folder and a favourite on the share", [&] {
        navigation.addRecentPath(URL::fileURL(music, true));
        navigation.addRecentPath(projects);
        m_controller->favoritesManager().add(QStringLiteral("Films"), films, QStringLiteral("folder.fill"));
    });
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY(row(QStringLiteral("FAVORITES"), QStringLiteral("Films")).isValid());
    QTRY_VERIFY(row(QStringLiteral("RECENT"), QStringLiteral("Projects")).isValid());

    answersDuring("going to the favourite", [&] {
        sidebar()->outlineView()->selectionModel()->select(
            row(QStringLiteral("FAVORITES"), QStringLiteral("Films")),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    });
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(navigation.currentPath.value(), std::optional<URL>(films));
    // Duplicate names its copy after what the folder holds.
    answersDuring("duplicating an item on the share", [&] {
        const URL clip = films.appendingPathComponent(QStringLiteral("clip.mov"), false);
        m_controller->browserContainer()->columnBrowser()->duplicateItems(
            {FileItem(clip.absoluteString(), clip.lastPathComponent(), clip, false, 1, Date::now(),
                      FileKind::fromUTI(std::nullopt), std::nullopt)});
    });
    if (QTest::currentTestFailed())
        return;
    // The phone's folders list meanwhile: nothing of theirs waits behind the share's listing.
    QVERIFY(QDir().mkpath(scratchPath(QStringLiteral("media-") + udid + QStringLiteral("/DCIM/100APPLE"))));
    const URL dcim = URL::fromComponents(QStringLiteral("afc"), udid, QStringLiteral("/DCIM"));
    answersDuring("going to a folder of the phone", [&] { navigation.navigate(dcim); });
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE_WITH_TIMEOUT(shownNames(), QStringList{"100APPLE"}, 10000);
    answersDuring("going to the recent folder", [&] { navigation.navigate(projects); });
    if (QTest::currentTestFailed())
        return;
    answersDuring("going to a folder of this computer",
                  [&] { navigation.navigate(URL::fileURL(music, true)); });
    if (QTest::currentTestFailed())
        return;
    answersDuring("going back", [&] { navigation.goBack(); });
    if (QTest::currentTestFailed())
        return;
    answersDuring("a new window", [&] { makeController(); });
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY(m_controller->isShowingBrowser());
    QTRY_VERIFY(sidebar() && row(QStringLiteral("RECENT"), QStringLiteral("Projects")).isValid());
    QVERIFY(!m_share->watchdogFired());

    // The server is gone: the recent folder on the share is grey, the one here is not; a
    // favourite on this computer is shown as it is, whatever its folder.
    m_share->goAway();
    QTRY_COMPARE(rowAlpha(QStringLiteral("RECENT"), QStringLiteral("Projects")), 0.4);
    QCOMPARE(rowAlpha(QStringLiteral("RECENT"), QStringLiteral("Music")), 1.0);
    QCOMPARE(rowAlpha(QStringLiteral("FAVORITES"), QStringLiteral("Films")), 1.0);
    QCOMPARE(rowAlpha(QStringLiteral("LOCATIONS"), QStringLiteral("Documents")), 1.0);
}

void tst_SilentShare::theContextMenuAnswersWhileAPlaceIsSilent_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("place");
    QTest::newRow("Downloads") << QByteArray("XDG_DOWNLOAD_DIR") << QStringLiteral("Downloads");
    QTest::newRow("Desktop") << QByteArray("XDG_DESKTOP_DIR") << QStringLiteral("Desktop");
}

// Downloads or the Desktop on a share that stopped answering: the context menu of a phone's folder
// opens at once, offering the place as the sidebar knows it (not looked at yet, so there).
void tst_SilentShare::theContextMenuAnswersWhileAPlaceIsSilent() {
    QFETCH(QByteArray, key);
    QFETCH(QString, place);
    m_share = std::make_unique<SilentMount>(scratchPath(QStringLiteral("mnt")), 20s);
    if (!m_share->isMounted())
        QSKIP(qPrintable(QStringLiteral("no silent share here: ") + m_share->failure()));
    movePlace(key.constData(), m_share->path() + u'/' + place);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(QDir().mkpath(scratchPath(QStringLiteral("media-") + udid + QStringLiteral("/DCIM/100APPLE"))));
    addDevice(describeDevice(udid, QStringLiteral("Studio iPhone")));
    async::runSync(m_deviceManager->scanForDevices(), 30s);
    makeController();
    QTRY_VERIFY(m_controller->isShowingBrowser());
    m_controller->navigationState().navigate(
        URL::fromComponents(QStringLiteral("afc"), udid, QStringLiteral("/DCIM")));
    QTRY_COMPARE_WITH_TIMEOUT(shownNames(), QStringList{"100APPLE"}, 10000);
    ColumnBrowserViewController* browser = m_controller->browserContainer()->columnBrowser();
    QTRY_VERIFY(!browser->panels().isEmpty() && browser->panels().first()->model()->rowCount() == 1);
    ColumnPanelView* panel = browser->panels().first();
    panel->tableView()->selectionModel()->select(panel->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);

    std::unique_ptr<QMenu> menu;
    answersDuring("opening the context menu", [&] { menu.reset(panel->makeContextMenu()); });
    if (QTest::currentTestFailed())
        return;
    QVERIFY(menu);
    QStringList titles;
    for (const QAction* action : menu->actions())
        titles << action->text();
    for (const char* verb : {"Copy", "Move"}) {
        for (const char* shown : {"Downloads", "Desktop"})
            QVERIFY2(titles.contains(QStringLiteral("%1 100APPLE to %2").arg(verb, shown)),
                     qPrintable(titles.join(u';')));
    }
    QAction* copy = nullptr;
    for (QAction* action : menu->actions())
        if (action->text() == QStringLiteral("Copy 100APPLE to ") + place)
            copy = action;
    answersDuring("copying there", [&] { copy->trigger(); });
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_SilentShare)
#include "tst_SilentShare.moc"
