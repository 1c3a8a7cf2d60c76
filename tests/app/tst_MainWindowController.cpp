// The main window following the devices of the emulator: the empty state and the split view,
// the first navigation, auto-ingest of a camera roll, the failure alert and the window frame.
// Scans are triggered by the test, never by the monitoring clock.

#include "DeviceTestCase.h"
#include "EventLoop.h"
#include "LogCapture.h"
#include "ScriptedAlertPresenter.h"
#include "WidgetDeviceTestMain.h"
#include "app/MainMenu.h"
#include "app/MainWindowController.h"
#include "app/PathBarView.h"
#include "app/StatusBarView.h"
#include "browser/BrowserContainerController.h"
#include "browser/ColumnBrowserViewController.h"
#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "browser/ErrorPlaceholderView.h"
#include "browser/FileItemListModel.h"
#include "browser/GetInfoPanelController.h"
#include "browser/IconBrowserViewController.h"
#include "browser/ListBrowserViewController.h"
#include "device/DeviceManager.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunner.h"
#include "models/TransferError.h"
#include "platform/ArchivedURL.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "platform/async/TaskHandle.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "sidebar/SidebarViewController.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"
#include "uikit/Beep.h"
#include "uikit/CommandRouter.h"
#include "uikit/PathControl.h"
#include "uikit/Workspace.h"

#include <QApplication>
#include <QDate>
#include <QLineEdit>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>

using namespace std::chrono_literals;
using async::runSync;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString lowerUdid = QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28");

// Records the folders listed, so that a test can tell what was listed and what was not.
class CountingProvider : public FileSystemProvider {
public:
    using FileSystemProvider::FileSystemProvider;
    QList<URL> listed;
    async::Task<QList<FileItem>> listDirectory(URL at) override {
        listed.append(at);
        return FileSystemProvider::listDirectory(std::move(at));
    }
    int listingsOf(const QString& path) const {
        return int(std::count_if(listed.cbegin(), listed.cend(),
                                 [&path](const URL& url) { return url.path() == path; }));
    }
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList filesBelow(const QString& root) {
    QStringList result;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        result << QDir(root).relativeFilePath(it.next());
    result.sort();
    return result;
}

iOSDevice deviceNamed(const QString& name, const QString& model) {
    return iOSDevice(udid, udid, name, model, QStringLiteral("iPhone15,2"), QStringLiteral("17.4"), 80, true,
                     false);
}

} // namespace

class tst_MainWindowController : public DeviceTestCase {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowFollowsTheDevices_data();
    void windowFollowsTheDevices();
    void missingHelpersSubtitle();
    void autoIngest_data();
    void autoIngest();
    void ingestFolderName_data();
    void ingestFolderName();
    void transferFailureAlert_data();
    void transferFailureAlert();
    void oneAlertForATransferCutByAnUnplug();
    void windowFrameIsRestored();
    void commandValidation_data();
    void commandValidation();
    void commandsWithoutBrowser();
    void columnKeysWinOverTheMenu();
    void barsFollowTheBrowser();
    void pathBarClicks_data();
    void pathBarClicks();
    void theSelectedSidebarRowShowsItsPlaceAgain_data();
    void theSelectedSidebarRowShowsItsPlaceAgain();
    void titleAndRootNameFollowTheShownDevice();
    void keysGoToTheBrowserWhenItComes_data();
    void keysGoToTheBrowserWhenItComes();
    void aDeviceBackShowsNothingItListedBefore_data();
    void aDeviceBackShowsNothingItListedBefore();
    void aDeviceBackBetweenScansListsAgain();
    void theShownDeviceGoes_data();
    void theShownDeviceGoes();
    void aDeviceBackWhileAFlatViewIsShown_data();
    void aDeviceBackWhileAFlatViewIsShown();
    void aSelectedFolderIsTheEditMenusSelection();
    void getInfoKey();
    void getInfoOfAComputerItemNothingCanShow();

private:
    ColumnBrowserViewController* showDeviceColumns();
    // Makes the window over the devices added, scans, and waits for its column browser.
    void showBrowserOfDevices(int count);
    // The menu bar and the window's own keys, sending through router, as the application has them.
    void wireMenus(CommandRouter& router);
    // Shows the browser of the mode and waits until it shows the device's root with the expected
    // names, or (none expected) only the placeholder of a locked device.
    void expectRoot(BrowserViewMode mode, const QStringList& expected);
    void clickRow(int column, const QString& name);
    void makeController();
    void scan() { runSync(m_deviceManager->scanForDevices(), 30s); }
    fakemux::VirtualDevice& plugDevice(const QString& id, const QString& name);

    QTemporaryDir m_home;
    async::ManualClock m_clock;
    NotificationCenter m_notifications;
    std::shared_ptr<ScriptedAlertPresenter> m_presenter;
    std::unique_ptr<DeviceManager> m_deviceManager;
    std::shared_ptr<TransferManager> m_transferManager;
    std::shared_ptr<CountingProvider> m_provider;
    std::unique_ptr<MainWindowController> m_controller;
    int m_tasksBefore = 0;
};

void tst_MainWindowController::initTestCase() {
    // No file manager of the machine's may answer a reveal: without a bus it goes to the opener.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvanta-test-bus");
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    UserDefaults::setStandardFilePathForTesting(m_home.filePath(QStringLiteral("defaults.plist")));
}

void tst_MainWindowController::init() {
    setUpTest();
    m_tasksBefore = async::spawnedTasksRunning();
    UserDefaults& defaults = PreferencesViewController::defaults();
    for (const QString& key : defaults.keys())
        defaults.remove(key);
    m_presenter = std::make_shared<ScriptedAlertPresenter>();
    m_deviceManager = std::make_unique<DeviceManager>(
        std::make_shared<IMobileDeviceBridge>(std::make_shared<ProcessRunner>()));
    m_transferManager = std::make_shared<TransferManager>(defaults, m_clock, m_notifications);
    m_provider = std::make_shared<CountingProvider>(*m_deviceManager->afcBridge(), m_clock);
}

void tst_MainWindowController::cleanup() {
    m_controller.reset();
    // A listing the window started may still be waiting for the device's answer; it must end
    // before the bridge it runs on goes, or it resumes in the next test on freed memory.
    QTRY_VERIFY_WITH_TIMEOUT(async::spawnedTasksRunning() <= m_tasksBefore, 20000);
    m_transferManager.reset();
    m_provider.reset();
    m_deviceManager.reset();
    tearDownTest();
}

void tst_MainWindowController::makeController() {
    m_controller =
        std::make_unique<MainWindowController>(*m_deviceManager, m_transferManager, m_presenter, m_provider);
}

fakemux::VirtualDevice& tst_MainWindowController::plugDevice(const QString& id, const QString& name) {
    return addDevice(describeDevice(id, name));
}

void tst_MainWindowController::windowFollowsTheDevices_data() {
    QTest::addColumn<QString>("deviceUdid");
    QTest::newRow("upper-case UDID") << udid;
    QTest::newRow("lower-case UDID") << lowerUdid;
}

// Plug: the split view and the device's root with the UDID as the device spells it. Unplug: the
// empty state, the navigation untouched. Replug: the split view again, no second navigation.
void tst_MainWindowController::windowFollowsTheDevices() {
    QFETCH(QString, deviceUdid);
    makeController();
    NavigationState& navigation = m_controller->navigationState();
    QTRY_VERIFY(m_controller->emptyStateSubtitleLabel());
    QVERIFY(!m_controller->isShowingBrowser());
    QCOMPARE(m_controller->emptyStateSubtitleLabel()->text(),
             QStringLiteral("Connect an iPhone or iPad via USB to browse files"));

    LogCapture log;
    fakemux::VirtualDevice& device = plugDevice(deviceUdid, QStringLiteral("Studio iPhone"));
    scan();
    QTRY_VERIFY(m_controller->isShowingBrowser());
    QVERIFY(m_controller->splitView());
    QCOMPARE(m_controller->splitView()->count(), 3);
    QVERIFY(m_controller->pathBarView() && m_controller->statusBarView());
    QVERIFY(!m_controller->emptyStateSubtitleLabel());
    const URL root = URL::fromComponents(QStringLiteral("afc"), deviceUdid, QStringLiteral("/"));
    QTRY_COMPARE(navigation.currentPath.value(), std::optional<URL>(root));
    QCOMPARE(navigation.currentPath.value()->host(), deviceUdid);
    QTRY_VERIFY(navigation.currentDevice.value());
    QCOMPARE(navigation.currentDevice.value()->udid(), deviceUdid);
    QVERIFY(log.contains(LogCapture::category("ui"), QStringLiteral("Devices connected: Studio iPhone")));
    QVERIFY(log.contains(LogCapture::category("ui"), QStringLiteral("Browser UI initialized")));

    // The columns say which folder is shown; the root of a device titles with its name, a
    // folder with its own. The real column browser publishes the columns, so the deeper case is
    // asked of the title rule itself rather than raced against it.
    QTRY_VERIFY(m_controller->browserContainer() && m_controller->browserContainer()->columnBrowser() &&
                !m_controller->browserContainer()->columnBrowser()->columns().isEmpty());
    QTRY_COMPARE(m_controller->window()->windowTitle(), QStringLiteral("Studio iPhone"));
    const QList<iOSDevice> devices = m_deviceManager->connectedDevices.value();
    QCOMPARE(MainWindowController::windowTitle(
                 {root, root.appendingPathComponent(QStringLiteral("DCIM"), true)}, devices),
             QStringLiteral("DCIM"));

    device.unplug();
    scan();
    QTRY_VERIFY(!m_controller->isShowingBrowser());
    QVERIFY(m_controller->emptyStateSubtitleLabel());
    QVERIFY(!m_controller->splitView() && !m_controller->pathBarView() && !m_controller->statusBarView());
    QCOMPARE(navigation.currentPath.value(), std::optional<URL>(root));
    QTRY_VERIFY(!navigation.currentDevice.value());

    device.plug();
    scan();
    QTRY_VERIFY(m_controller->isShowingBrowser());
    QCOMPARE(navigation.backStack().size(), 0);
    QCOMPARE(navigation.currentPath.value(), std::optional<URL>(root));
}

void tst_MainWindowController::missingHelpersSubtitle() {
    m_deviceManager->dependenciesMissing = true;
    makeController();
    QCOMPARE(m_controller->emptyStateSubtitleLabel()->text(),
             QStringLiteral("Orvanta helpers are missing — please reinstall the app"));
    m_deviceManager->dependenciesMissing = false;
    QTRY_COMPARE(m_controller->emptyStateSubtitleLabel()->text(),
                 QStringLiteral("Connect an iPhone or iPad via USB to browse files"));
}

void tst_MainWindowController::autoIngest_data() {
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QVariant>("deviceFolder"); // unset, true or false
    QTest::addColumn<QVariant>("dateFolder");
    QTest::addColumn<QString>("cameraRoll");     // "photos", "empty" or "missing"
    QTest::addColumn<QString>("expectedFolder"); // below the ingest folder; "<date>" is today
    QTest::addColumn<bool>("listed");
    QTest::addColumn<bool>("failureLogged");

    const QVariant unset;
    QTest::newRow("defaults: device and date") << true << unset << unset << "photos"
                                               << "Studio iPhone/<date>" << true << false;
    QTest::newRow("device folder only") << true << QVariant(true) << QVariant(false) << "photos"
                                        << "Studio iPhone" << true << false;
    QTest::newRow("neither folder") << true << QVariant(false) << QVariant(false) << "photos"
                                    << "" << true << false;
    QTest::newRow("empty DCIM") << true << unset << unset << "empty" << QString() << true << false;
    QTest::newRow("no DCIM") << true << unset << unset << "missing" << QString() << true << true;
    QTest::newRow("switched off") << false << unset << unset << "photos" << QString() << false << false;
}

void tst_MainWindowController::autoIngest() {
    QFETCH(bool, enabled);
    QFETCH(QVariant, deviceFolder);
    QFETCH(QVariant, dateFolder);
    QFETCH(QString, cameraRoll);
    QFETCH(QString, expectedFolder);
    QFETCH(bool, listed);
    QFETCH(bool, failureLogged);

    UserDefaults& defaults = PreferencesViewController::defaults();
    const QString ingest = scratchPath(QStringLiteral("ingest"));
    defaults.set(QString(PreferencesViewController::autoIngestDestinationKey),
                 archiveURL(URL::fileURL(ingest, true)));
    defaults.set(QString(PreferencesViewController::autoIngestEnabledKey), enabled);
    if (deviceFolder.isValid())
        defaults.set(QString(PreferencesViewController::autoIngestIncludeDeviceFolderKey), deviceFolder);
    if (dateFolder.isValid())
        defaults.set(QString(PreferencesViewController::autoIngestIncludeDateFolderKey), dateFolder);

    fakemux::DeviceDescription description = describeDevice(udid, QStringLiteral("Studio iPhone"));
    const QString media = QString::fromStdString(description.mediaRoot.string());
    if (cameraRoll == u"photos") {
        writeFile(media + "/DCIM/100APPLE/IMG_0001.JPG", "first photo");
        writeFile(media + "/DCIM/101APPLE/IMG_0002.HEIC", "second photo");
    } else if (cameraRoll == u"empty") {
        QDir().mkpath(media + "/DCIM");
    }
    addDevice(std::move(description));

    LogCapture log;
    makeController();
    scan();
    QTRY_VERIFY(m_controller->isShowingBrowser());
    for (const auto& task : m_controller->autoIngestTasks())
        runSync(task.result(), 30s);
    // The browser lists the device's root once it is shown, a moment after the window's first
    // scan, whether or not the camera roll is copied: only the camera roll's listing tells, and
    // it is checked once the browser's own has come, so that nothing of the start is still due.
    QTRY_VERIFY(m_provider->listingsOf(QStringLiteral("/")) > 0);
    QCOMPARE(m_provider->listingsOf(QStringLiteral("/DCIM")) > 0, listed);
    QCOMPARE(
        log.messages(LogCapture::category("transfer")).filter(QStringLiteral("Auto-ingest failed: ")).size(),
        failureLogged ? 1 : 0);

    if (expectedFolder.isNull()) {
        QCOMPARE(filesBelow(ingest), QStringList());
        QVERIFY(m_transferManager->activeTransfers.value().isEmpty());
        QVERIFY(m_transferManager->completedTransfers.value().isEmpty());
        return;
    }
    QTRY_COMPARE(m_transferManager->completedTransfers.value().size(), 1);
    QCOMPARE(m_transferManager->completedTransfers.value().first().state, TransferState::completed);
    expectedFolder.replace(QStringLiteral("<date>"), QDate::currentDate().toString(u"yyyy-MM-dd"));
    const QString prefix = expectedFolder.isEmpty() ? QString() : expectedFolder + u'/';
    QCOMPARE(filesBelow(ingest),
             (QStringList{prefix + "100APPLE/IMG_0001.JPG", prefix + "101APPLE/IMG_0002.HEIC"}));
}

void tst_MainWindowController::ingestFolderName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "Studio iPhone"
                           << "iPhone 15"
                           << "Studio iPhone";
    QTest::newRow("empty name: the model") << ""
                                           << "iPhone 15"
                                           << "iPhone 15";
    QTest::newRow("slashes and dots") << "a/../b"
                                      << "iPhone 15"
                                      << "a-..-b";
    QTest::newRow("dot dot") << ".."
                             << "iPhone 15"
                             << "iPhone 15";
    QTest::newRow("blanks around a dot") << "  .  "
                                         << "iPhone 15"
                                         << "iPhone 15";
    QTest::newRow("NUL") << QStringLiteral("Phone") + QChar(u'\0') + "x"
                         << "iPhone"
                         << "Phone-x";
    QTest::newRow("blanks around") << "  Studio  "
                                   << "iPhone 15"
                                   << "Studio";
    QTest::newRow("name and model unusable") << "."
                                             << ".."
                                             << "Device";
}

// The folder name never leaves the ingest folder, whatever the device calls itself.
void tst_MainWindowController::ingestFolderName() {
    QFETCH(QString, name);
    QFETCH(QString, model);
    QFETCH(QString, expected);
    QCOMPARE(MainWindowController::ingestFolderName(deviceNamed(name, model)), expected);

    makeController();
    UserDefaults& defaults = PreferencesViewController::defaults();
    const QString ingest = scratchPath(QStringLiteral("ingest"));
    defaults.set(QString(PreferencesViewController::autoIngestDestinationKey),
                 archiveURL(URL::fileURL(ingest, true)));
    const URL destination = m_controller->autoIngestDestination(deviceNamed(name, model));
    QCOMPARE(QFileInfo(destination.toLocalFile()).dir().dirName(), expected);
    QCOMPARE(QDir::cleanPath(destination.toLocalFile() + "/../.."), QDir::cleanPath(ingest));
}

void tst_MainWindowController::transferFailureAlert_data() {
    QTest::addColumn<int>("errorCase");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("informative"); // null: no alert

    using Case = TransferError::Case;
    const int failed = int(TransferState::failed);
    QTest::newRow("file not found") << int(Case::fileNotFound) << failed << "File not found: the message";
    QTest::newRow("I/O error quotes the current file")
        << int(Case::ioError) << failed << "An error occurred copying \"IMG_0002.HEIC\": the message";
    QTest::newRow("cancelled") << int(Case::ioError) << int(TransferState::cancelled) << QString();
    QTest::newRow("completed") << int(Case::ioError) << int(TransferState::completed) << QString();
}

// Only the newest finished transfer counts, and only when it failed with an error.
void tst_MainWindowController::transferFailureAlert() {
    QFETCH(int, errorCase);
    QFETCH(int, state);
    QFETCH(QString, informative);
    makeController();

    const QString message = QStringLiteral("the message");
    Transfer transfer;
    transfer.id = QUuid::createUuid();
    transfer.state = TransferState(TransferState::Value(state));
    transfer.error = TransferError::Case(errorCase) == TransferError::Case::fileNotFound
                         ? TransferError::fileNotFound(message)
                         : TransferError::ioError(message);
    transfer.progress.currentFile = QStringLiteral("IMG_0002.HEIC");
    Transfer older = transfer;
    older.id = QUuid::createUuid();
    older.error = TransferError::diskFull();
    older.state = TransferState::failed;

    // A subscriber that joins after the window's hears each list after it.
    int heard = 0;
    const Subscription after = m_transferManager->completedTransfers.subscribe(
        [&heard](const QList<Transfer>&) { ++heard; }, Delivery::Queued);
    m_transferManager->completedTransfers = QList<Transfer>{transfer, older};
    QTRY_COMPARE(heard, 2);

    if (informative.isNull()) {
        QCOMPARE(m_presenter->requests.size(), 0);
        return;
    }
    QCOMPARE(m_presenter->requests.size(), 1);
    const AlertRequest& request = m_presenter->requests.first();
    QCOMPARE(request.style, AlertRequest::Style::warning);
    QCOMPARE(request.message, QStringLiteral("Transfer Failed"));
    QCOMPARE(request.informative, informative);
    QCOMPARE(request.buttons, QStringList{QStringLiteral("OK")});
    QCOMPARE(m_presenter->parents.first().data(), m_controller->window());
}

// The device goes away in the middle of a download: the window says so once, however often the
// finished list is published again (its report named, the device's loss noticed by a scan).
void tst_MainWindowController::oneAlertForATransferCutByAnUnplug() {
    fakemux::DeviceDescription description = describeDevice(udid, QStringLiteral("Studio iPhone"));
    const QString media = QString::fromStdString(description.mediaRoot.string());
    writeFile(media + QStringLiteral("/DCIM/100APPLE/IMG_0001.MOV"), QByteArray(4 << 20, 'v'));
    fakemux::VirtualDevice& device = addDevice(std::move(description));
    makeController();
    scan();
    QTRY_VERIFY(m_controller->isShowingBrowser());

    // Joins after the window's subscription: each list reaches the window before it comes here.
    QList<Transfer> heard;
    const Subscription after = m_transferManager->completedTransfers.subscribe(
        [&heard](const QList<Transfer>& list) {
            if (!list.isEmpty())
                heard.append(list.first());
        },
        Delivery::Queued);
    device.faults().unplugAfterAfcBytes(1 << 20);
    const URL movie =
        URL::fromComponents(QStringLiteral("afc"), udid, QStringLiteral("/DCIM/100APPLE/IMG_0001.MOV"));
    const FileItem item(movie.absoluteString(), movie.lastPathComponent(), movie, false, 4 << 20, Date::now(),
                        FileKind::other, std::nullopt);
    const QString destination = scratchPath(QStringLiteral("Downloads"));
    QVERIFY(QDir().mkpath(destination));
    const Transfer started = m_transferManager->startTransfer({item}, URL::fileURL(destination, true));
    m_transferManager->launchTask(started);
    try {
        runSync(m_transferManager->awaitCompletion(started.id), 30s);
    } catch (...) {
    }
    scan();
    QTRY_VERIFY(!m_controller->isShowingBrowser());
    // The list that names the report is the last one published for the transfer.
    QTRY_VERIFY(!heard.isEmpty() && heard.last().id == started.id && heard.last().reportURL);
    QCOMPARE(heard.first().state, TransferState::failed);

    QCOMPARE(m_presenter->requests.size(), 1);
    QCOMPARE(m_presenter->requests.first().message, QStringLiteral("Transfer Failed"));
    QCOMPARE(m_presenter->requests.first().informative,
             QStringLiteral("The iOS device was disconnected during the transfer."));
}

void tst_MainWindowController::windowFrameIsRestored() {
    makeController();
    QMainWindow* window = m_controller->window();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->setGeometry(40, 50, 900, 600);
    const QRect placed = window->geometry();
    window->close();
    m_controller.reset();

    makeController();
    QCOMPARE(m_controller->window()->geometry(), placed);
}

// Unplugged and plugged back in unlocked between two scans, with files added meanwhile: the
// device list never changes, yet every open column lists again once the scan has reconnected.
void tst_MainWindowController::aDeviceBackBetweenScansListsAgain() {
    ColumnBrowserViewController* browser = showDeviceColumns();
    QVERIFY(browser);
    clickRow(0, QStringLiteral("Pics"));
    QTRY_COMPARE(browser->columns().size(), 2);
    QTRY_VERIFY(!browser->columns().at(1).isLoading);
    const QList<iOSDevice> devicesBefore = m_deviceManager->connectedDevices.value();

    fakemux::VirtualDevice& device = *emulator().device(udid.toStdString());
    const QString media = QString::fromStdString(device.description().mediaRoot.string());
    writeFile(media + QStringLiteral("/d.txt"), "x");
    writeFile(media + QStringLiteral("/Pics/e.txt"), "x");
    emulator().replug(udid.toStdString());
    scan();
    QCOMPARE(m_deviceManager->connectedDevices.value(), devicesBefore);

    const auto names = [browser](int column) {
        QStringList listed;
        if (column < browser->panels().size())
            for (const FileItem& item : browser->panels().at(column)->items())
                listed << item.name();
        return listed;
    };
    QTRY_COMPARE(names(0), QStringList({"Pics", "c.txt", "d.txt"}));
    QTRY_COMPARE(names(1), QStringList({"a.txt", "b.txt", "e.txt"}));
    QTRY_COMPARE(m_controller->navigationState().currentDirectoryContents.value().size(), 3);
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_MainWindowController)
#include "tst_MainWindowController.moc"

// --- the menu commands and the browser on screen ---

ColumnBrowserViewController* tst_MainWindowController::showDeviceColumns() {
    fakemux::DeviceDescription description = describeDevice(udid, QStringLiteral("Studio iPhone"));
    const QString media = QString::fromStdString(description.mediaRoot.string());
    for (const char* file : {"Pics/a.txt", "Pics/b.txt", "c.txt"})
        writeFile(media + u'/' + file, "x");
    addDevice(description);
    makeController();
    m_controller->window()->show();
    m_controller->window()->activateWindow();
    if (!QTest::qWaitForWindowActive(m_controller->window()))
        return nullptr;
    scan();
    if (!QTest::qWaitFor([this] {
            return m_controller->browserContainer() && m_controller->browserContainer()->columnBrowser();
        }))
        return nullptr;
    ColumnBrowserViewController* browser = m_controller->browserContainer()->columnBrowser();
    if (!QTest::qWaitFor(
            [browser] { return browser->columns().size() == 1 && !browser->columns().first().isLoading; }))
        return nullptr;
    return browser;
}

void tst_MainWindowController::showBrowserOfDevices(int count) {
    makeController();
    scan();
    QTRY_COMPARE(m_deviceManager->connectedDevices.value().size(), count);
    QTRY_VERIFY(m_controller->isShowingBrowser() && m_controller->browserContainer() &&
                m_controller->browserContainer()->columnBrowser());
}

void tst_MainWindowController::wireMenus(CommandRouter& router) {
    m_controller->window()->setMenuBar(MainMenu::build(router));
    MainMenu::addWindowKeys(router, m_controller->window());
    router.setMainWindow(m_controller->window(), m_controller.get());
    connect(m_controller.get(), &MainWindowController::commandStateChanged, &router,
            &CommandRouter::revalidate);
}

void tst_MainWindowController::clickRow(int column, const QString& name) {
    ColumnBrowserViewController* browser = m_controller->browserContainer()->columnBrowser();
    QVERIFY(column < browser->panels().size());
    ColumnPanelView* panel = browser->panels().at(column);
    int row = -1;
    for (int i = 0; i < panel->items().size(); ++i)
        if (panel->items().at(i).name() == name)
            row = i;
    QVERIFY2(row >= 0, qPrintable(name));
    QTest::mouseClick(panel->tableView()->viewport(), Qt::LeftButton, {},
                      panel->tableView()->visualRect(panel->model()->index(row)).center());
    QTRY_VERIFY(std::none_of(browser->columns().begin(), browser->columns().end(),
                             [](const auto& each) { return each.isLoading; }));
    drainPostedEvents();
}

void tst_MainWindowController::commandValidation_data() {
    QTest::addColumn<QString>("state");
    QTest::addColumn<QStringList>("enabled");
    const QStringList editing{"cut:", "copy:", "duplicate:", "deleteBackward:", "rename:"};
    QTest::newRow("nothing selected") << "none" << QStringList{"selectAll:", "showListView:"};
    QTest::newRow("a file selected") << "file" << editing + QStringList{"selectAll:", "showListView:"};
    // The folder selected is the selection, also while its column is open.
    QTest::newRow("a folder opened") << "folder" << editing + QStringList{"selectAll:", "showListView:"};
    QTest::newRow("something to paste")
        << "clipboard" << editing + QStringList{"paste:", "selectAll:", "showListView:"};
    QTest::newRow("the list with nothing selected") << "list" << QStringList{"selectAll:", "showListView:"};
    QTest::newRow("after a second folder")
        << "navigated" << QStringList{"goBackAction:", "selectAll:", "showListView:"};
}

// The Edit menu is enabled exactly when its command can run in the browser on screen.
void tst_MainWindowController::commandValidation() {
    QFETCH(QString, state);
    QFETCH(QStringList, enabled);
    ColumnBrowserViewController* browser = showDeviceColumns();
    QVERIFY(browser);
    if (state == u"file" || state == u"clipboard") {
        clickRow(0, QStringLiteral("c.txt"));
        if (state == u"clipboard")
            browser->copySelection();
    } else if (state == u"folder") {
        clickRow(0, QStringLiteral("c.txt"));
        clickRow(0, QStringLiteral("Pics"));
    } else if (state == u"list") {
        clickRow(0, QStringLiteral("c.txt"));
        m_controller->perform(QStringLiteral("showListView:"), nullptr);
        QTRY_VERIFY(m_controller->currentBrowser() && m_controller->currentBrowser() != browser);
    } else if (state == u"navigated") {
        m_controller->navigationState().navigate(
            URL::fromComponents(QStringLiteral("afc"), udid, QStringLiteral("/Pics")));
        QTRY_COMPARE(browser->columns().first().path.lastPathComponent(), QStringLiteral("Pics"));
        QTRY_VERIFY(!browser->columns().first().isLoading);
    }
    drainPostedEvents();
    QStringList actual;
    for (const char* selector : {"cut:", "copy:", "paste:", "duplicate:", "deleteBackward:", "rename:",
                                 "selectAll:", "goBackAction:", "goForwardAction:", "showListView:"})
        if (m_controller->validate(QString::fromLatin1(selector)))
            actual.append(QString::fromLatin1(selector));
    QStringList expected = enabled;
    std::sort(actual.begin(), actual.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(actual, expected);
}

void tst_MainWindowController::commandsWithoutBrowser() {
    Beep::setSoundForTesting([] {});
    makeController();
    // The empty state: nothing to cut, and the command beeps when it arrives anyway.
    QVERIFY(!m_controller->validate(QStringLiteral("copy:")));
    QVERIFY(!m_controller->validate(QStringLiteral("paste:")));
    QVERIFY(m_controller->validate(QStringLiteral("showColumnsView:")));
    int beeps = Beep::count();
    m_controller->perform(QStringLiteral("copy:"), nullptr);
    QCOMPARE(Beep::count(), beeps + 1);
    m_controller->perform(QStringLiteral("selectAll:"), nullptr);
    QCOMPARE(Beep::count(), beeps + 1);
    m_controller.reset();

    // The icon view with nothing selected: the edit commands do nothing, Select All takes its items.
    ColumnBrowserViewController* browser = showDeviceColumns();
    QVERIFY(browser);
    m_controller->perform(QStringLiteral("showIconsView:"), nullptr);
    QTRY_VERIFY(m_controller->currentBrowser() && m_controller->currentBrowser() != browser);
    QCOMPARE(m_controller->navigationState().viewMode.value(), BrowserViewMode::icon);
    beeps = Beep::count();
    for (const char* selector : {"cut:", "copy:", "paste:", "duplicate:", "deleteBackward:", "rename:"})
        m_controller->perform(QString::fromLatin1(selector), nullptr);
    QCOMPARE(Beep::count(), beeps);
    QVERIFY(m_controller->clipboardManager().items.value().isEmpty());
    QTRY_COMPARE(m_controller->browserContainer()->iconBrowser()->displayedItems().size(), 2);
    m_controller->perform(QStringLiteral("selectAll:"), nullptr);
    QTRY_COMPARE(m_controller->navigationState().selectedItems.value().size(), 2);
}

// With the menu bar in place, a key of the column runs the column's handler alone; a key the
// column does not take reaches the menu.
void tst_MainWindowController::columnKeysWinOverTheMenu() {
    CommandRouter router;
    ColumnBrowserViewController* browser = showDeviceColumns();
    QVERIFY(browser);
    wireMenus(router);
    clickRow(0, QStringLiteral("c.txt"));
    ColumnTableView* table = browser->panels().first()->tableView();
    table->setFocus();
    QTRY_VERIFY(router.validate(QStringLiteral("deleteBackward:")));
    m_presenter->next.code = AlertResponse::firstButton + 1; // Cancel
    QTest::keyClick(table, Qt::Key_Backspace);
    QTRY_COMPARE(m_presenter->requests.size(), 1);
    QCOMPARE(m_presenter->requests.first().message, QStringLiteral("Delete \"c.txt\"?"));
    // The column's own handler ran, and the menu's did not.
    int columnDeletes = 0;
    table->onDelete = [&columnDeletes] {
        ++columnDeletes;
    };
    QTest::keyClick(table, Qt::Key_Backspace);
    QTest::keyClick(table, Qt::Key_Delete);
    drainPostedEvents();
    QCOMPARE(columnDeletes, 2);
    QCOMPARE(m_presenter->requests.size(), 1);

    QTest::keyClick(table, Qt::Key_A, Qt::ControlModifier);
    QTRY_COMPARE(browser->selection().size(), browser->columns().first().items.size());
    QTRY_COMPARE(m_controller->navigationState().selectedItems.value().size(), 2);
}

// The Edit menu and its keys act on a folder selected in a column as on a file.
void tst_MainWindowController::aSelectedFolderIsTheEditMenusSelection() {
    CommandRouter router;
    ColumnBrowserViewController* browser = showDeviceColumns();
    QVERIFY(browser);
    wireMenus(router);
    const ClipboardManager& clipboard = m_controller->clipboardManager();
    const auto clipboardNames = [&clipboard] {
        QStringList names;
        for (const FileItem& item : clipboard.items.value())
            names << item.name();
        return names;
    };
    clickRow(0, QStringLiteral("c.txt"));
    ColumnTableView* table = browser->panels().first()->tableView();
    table->setFocus();
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboardNames(), QStringList{"c.txt"});

    clickRow(0, QStringLiteral("Pics"));
    QTRY_COMPARE(browser->columns().size(), 2);
    for (const char* selector : {"cut:", "copy:", "duplicate:", "deleteBackward:", "rename:"})
        QTRY_VERIFY2(router.validate(QString::fromLatin1(selector)), selector);
    // Copy takes the folder, so a paste that follows pastes it and not what was copied before.
    table->setFocus();
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboardNames(), QStringList{"Pics"});
    QCOMPARE(clipboard.mode.value(), ClipboardManager::Mode::copy);
    QVERIFY(router.sendAction(QStringLiteral("cut:")));
    QCOMPARE(clipboard.mode.value(), ClipboardManager::Mode::cut);
    m_presenter->next.code = AlertResponse::firstButton + 1; // Cancel
    QTest::keyClick(table, Qt::Key_Backspace);
    QTRY_COMPARE(m_presenter->requests.size(), 1);
    QCOMPARE(m_presenter->requests.first().message, QStringLiteral("Delete \"Pics\"?"));
    QVERIFY(router.sendAction(QStringLiteral("rename:")));
    ColumnPanelView* panel = browser->panels().first();
    QVERIFY(panel->renameTextField() && panel->renamingItem());
    QCOMPARE(panel->renamingItem()->name(), QStringLiteral("Pics"));
    panel->cancelRename();
    // The status bar counts the selection too.
    QTRY_VERIFY(m_controller->statusBarView()->fullText().startsWith(QStringLiteral("1 of ")));
}

// Ctrl+I opens Get Info of the one item selected in the browser, wherever the keyboard is in the
// main window; with several items, none, or no browser it does nothing.
void tst_MainWindowController::getInfoKey() {
    CommandRouter router;
    ColumnBrowserViewController* browser = showDeviceColumns();
    QVERIFY(browser);
    wireMenus(router);
    const auto closeAll = [] {
        for (GetInfoPanelController* panel : GetInfoPanelController::openPanels())
            panel->window()->close();
        QTRY_VERIFY(GetInfoPanelController::openPanels().isEmpty());
    };
    closeAll();
    ColumnTableView* table = browser->panels().first()->tableView();
    table->setFocus();
    QTest::keyClick(table, Qt::Key_I, Qt::ControlModifier);
    drainPostedEvents();
    QVERIFY(GetInfoPanelController::openPanels().isEmpty());

    clickRow(0, QStringLiteral("c.txt"));
    table->setFocus();
    QTest::keyClick(table, Qt::Key_I, Qt::ControlModifier);
    QTRY_COMPARE(GetInfoPanelController::openPanels().size(), 1);
    QCOMPARE(GetInfoPanelController::openPanels().first()->item().name(), QStringLiteral("c.txt"));
    closeAll();
    // From elsewhere in the window: the search field has the keyboard.
    m_controller->window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_controller->window()));
    QLineEdit* search = m_controller->toolbar()->searchField();
    search->setFocus();
    QTest::keyClick(search, Qt::Key_I, Qt::ControlModifier);
    QTRY_COMPARE(GetInfoPanelController::openPanels().size(), 1);
    closeAll();

    // Two items selected: the context menu offers no Get Info, and the key does nothing.
    m_controller->window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_controller->window()));
    table->setFocus();
    QTest::keyClick(table, Qt::Key_A, Qt::ControlModifier);
    QTRY_COMPARE(m_controller->navigationState().selectedItems.value().size(), 2);
    QVERIFY(!router.validate(QStringLiteral("getInfo:")));
    QTest::keyClick(table, Qt::Key_I, Qt::ControlModifier);
    drainPostedEvents();
    QVERIFY(GetInfoPanelController::openPanels().isEmpty());
}

// Ctrl+I on a computer file shows it in the file manager; when nothing on this computer can,
// the user is told so over the window rather than left with nothing at all.
void tst_MainWindowController::getInfoOfAComputerItemNothingCanShow() {
    CommandRouter router;
    QVERIFY(showDeviceColumns());
    wireMenus(router);
    const QString folder = m_home.filePath(QStringLiteral("Downloads"));
    writeFile(folder + QStringLiteral("/notes.txt"), "x");
    // Left in place, refusing: no later test may hand a file to the desktop's programs.
    auto opened = std::make_shared<QStringList>();
    Workspace::setOpenerForTesting([opened](const URL& url) {
        opened->append(url.path());
        return false;
    });
    m_controller->navigationState().navigate(URL::fileURL(folder, true));
    ColumnBrowserViewController* browser = m_controller->browserContainer()->columnBrowser();
    QTRY_VERIFY(browser->columns().size() == 1 && !browser->columns().first().isLoading &&
                browser->columns().first().path == URL::fileURL(folder, true));
    clickRow(0, QStringLiteral("notes.txt"));
    ColumnTableView* table = browser->panels().first()->tableView();
    table->setFocus();
    QTest::keyClick(table, Qt::Key_I, Qt::ControlModifier);
    QTRY_COMPARE(m_presenter->requests.size(), 1);
    QCOMPARE(*opened, QStringList{QDir(folder).absolutePath()});
    QVERIFY(GetInfoPanelController::openPanels().isEmpty());
    const AlertRequest& request = m_presenter->requests.first();
    QCOMPARE(request.message, QStringLiteral("The file could not be shown."));
    QCOMPARE(request.informative,
             QStringLiteral("No file manager on this computer could show \u201Cnotes.txt\u201D."));
    QCOMPARE(request.buttons, QStringList{QStringLiteral("OK")});
    QCOMPARE(m_presenter->parents.first().data(), m_controller->window());
}

// --- the path bar and the status bar ---

namespace {

QStringList segmentTitles(PathBarView* bar) {
    QStringList titles;
    for (const PathControl::Segment& segment : bar->pathControl()->segments())
        titles << segment.title;
    return titles;
}

} // namespace

// The path bar shows the columns under the device's name, the status bar the count and the
// selection, and both come back filled after the empty state.
void tst_MainWindowController::barsFollowTheBrowser() {
    ColumnBrowserViewController* browser = showDeviceColumns();
    QVERIFY(browser);
    QTRY_COMPARE(segmentTitles(m_controller->pathBarView()), QStringList{"Studio iPhone"});
    QTRY_COMPARE(m_controller->statusBarView()->fullText(), QStringLiteral("2 items"));
    clickRow(0, QStringLiteral("c.txt"));
    QTRY_COMPARE(m_controller->statusBarView()->fullText(), QStringLiteral("1 of 2 selected, 1 byte"));
    clickRow(0, QStringLiteral("Pics"));
    QTRY_COMPARE(segmentTitles(m_controller->pathBarView()), (QStringList{"Studio iPhone", "Pics"}));

    m_controller->showEmptyState();
    QVERIFY(!m_controller->pathBarView() && !m_controller->statusBarView());
    m_controller->showBrowser();
    QCOMPARE(segmentTitles(m_controller->pathBarView()), (QStringList{"Studio iPhone", "Pics"}));
    const NavigationState& navigation = m_controller->navigationState();
    QCOMPARE(m_controller->statusBarView()->fullText(),
             StatusBarView::text(navigation.currentDirectoryContents.value().size(),
                                 navigation.selectedItems.value()));
    QVERIFY(!m_controller->statusBarView()->fullText().isEmpty());
}

void tst_MainWindowController::pathBarClicks_data() {
    QTest::addColumn<int>("segment");
    QTest::addColumn<QString>("shown"); // the folder shown afterwards, below the device's root
    QTest::newRow("the root") << 0 << "/";
    // The folder already shown: navigated to again, and the history grows all the same.
    QTest::newRow("the last segment") << 1 << "/Pics";
}

void tst_MainWindowController::pathBarClicks() {
    QFETCH(int, segment);
    QFETCH(QString, shown);
    ColumnBrowserViewController* browser = showDeviceColumns();
    QVERIFY(browser);
    NavigationState& navigation = m_controller->navigationState();
    navigation.navigate(URL::fromComponents(QStringLiteral("afc"), udid, QStringLiteral("/Pics")));
    QTRY_COMPARE(segmentTitles(m_controller->pathBarView()), (QStringList{"Studio iPhone", "Pics"}));
    navigation.searchQuery = QStringLiteral("a");
    const qsizetype history = navigation.backStack().size();
    auto* button =
        m_controller->pathBarView()->findChild<QToolButton*>(QStringLiteral("pathSegment-%1").arg(segment));
    QVERIFY(button);
    button->click();
    QCOMPARE(navigation.currentPath.value()->path(), shown);
    QCOMPARE(navigation.backStack().size(), history + 1);
    QCOMPARE(navigation.backStack().last().path(), QStringLiteral("/Pics"));
    QCOMPARE(navigation.searchQuery.value(), QString());
}

void tst_MainWindowController::theSelectedSidebarRowShowsItsPlaceAgain_data() {
    QTest::addColumn<bool>("switchToList");
    QTest::newRow("columns opened deeper") << false;
    QTest::newRow("a list that took over a deeper folder") << true;
}

// The device's row stays selected while the browser goes deeper; clicking it shows the device's
// root again, as its first click did. Clicked while that is what is shown, it goes nowhere.
void tst_MainWindowController::theSelectedSidebarRowShowsItsPlaceAgain() {
    QFETCH(bool, switchToList);
    ColumnBrowserViewController* browser = showDeviceColumns();
    QVERIFY(browser);
    auto* sidebar = qobject_cast<SidebarViewController*>(m_controller->sidebarView());
    QVERIFY(sidebar);
    QTreeView* outline = sidebar->outlineView();
    const auto clickSelectedRow = [outline] {
        const QModelIndexList rows = outline->selectionModel()->selectedRows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().data().toString(), QStringLiteral("Studio iPhone"));
        outline->scrollTo(rows.first());
        QTest::mouseClick(outline->viewport(), Qt::LeftButton, {},
                          outline->visualRect(rows.first()).center());
    };
    NavigationState& navigation = m_controller->navigationState();
    clickRow(0, QStringLiteral("Pics"));
    if (switchToList) {
        navigation.viewMode = BrowserViewMode::list;
        QTRY_VERIFY(m_controller->browserContainer()->listBrowser() &&
                    m_controller->browserContainer()->currentChild() ==
                        m_controller->browserContainer()->listBrowser());
    }
    QTRY_COMPARE(segmentTitles(m_controller->pathBarView()), (QStringList{"Studio iPhone", "Pics"}));
    QTRY_COMPARE(outline->selectionModel()->selectedRows().size(), 1);

    clickSelectedRow();
    QTRY_COMPARE(segmentTitles(m_controller->pathBarView()), QStringList{"Studio iPhone"});
    QTRY_COMPARE(m_controller->window()->windowTitle(), QStringLiteral("Studio iPhone"));
    if (!switchToList)
        QTRY_COMPARE(browser->columns().size(), 1);
    QTRY_COMPARE(navigation.currentDirectoryContents.value().size(), 2);
    drainPostedEvents();

    const qsizetype history = navigation.backStack().size();
    clickSelectedRow();
    drainPostedEvents();
    QCOMPARE(navigation.backStack().size(), history);
}

// With two devices the one browsed names the title and the path bar's root, whichever of them
// the list gives first; once every device is gone the empty window names no folder.
void tst_MainWindowController::titleAndRootNameFollowTheShownDevice() {
    const QString padUdid = QStringLiteral("00008120-0011223344556677");
    fakemux::DeviceDescription phoneDescription = describeDevice(udid, QStringLiteral("Studio iPhone"));
    writeFile(QString::fromStdString(phoneDescription.mediaRoot.string()) + QStringLiteral("/Pics/a.txt"), "x");
    fakemux::VirtualDevice& phone = addDevice(phoneDescription);
    fakemux::DeviceDescription padDescription = describeDevice(padUdid, QStringLiteral("Work iPad"));
    writeFile(QString::fromStdString(padDescription.mediaRoot.string()) + QStringLiteral("/Pics/a.txt"), "x");
    fakemux::VirtualDevice& pad = addDevice(padDescription);
    showBrowserOfDevices(2);
    if (QTest::currentTestFailed())
        return;
    NavigationState& navigation = m_controller->navigationState();
    QMainWindow* window = m_controller->window();
    for (const auto& [id, name] : {std::pair{udid, QStringLiteral("Studio iPhone")},
                                   std::pair{padUdid, QStringLiteral("Work iPad")}}) {
        navigation.navigate(URL::fromComponents(QStringLiteral("afc"), id, QStringLiteral("/")));
        QTRY_COMPARE(window->windowTitle(), name);
        QTRY_COMPARE(segmentTitles(m_controller->pathBarView()), QStringList{name});
    }
    // A computer folder, or a host no device has, falls back to the first device.
    const QList<iOSDevice> devices = m_deviceManager->connectedDevices.value();
    const QString first = MainWindowController::displayName(devices.first());
    QCOMPARE(MainWindowController::windowTitle({URL::fileURL(QStringLiteral("/"), true)}, devices), first);
    QCOMPARE(MainWindowController::windowTitle(
                 {URL::fromComponents(QStringLiteral("afc"), QStringLiteral("FFFF"), QStringLiteral("/"))},
                 devices),
             first);

    navigation.navigate(URL::fromComponents(QStringLiteral("afc"), padUdid, QStringLiteral("/Pics")));
    QTRY_COMPARE(window->windowTitle(), QStringLiteral("Pics"));
    phone.unplug();
    pad.unplug();
    scan();
    QTRY_VERIFY(!m_controller->isShowingBrowser());
    drainPostedEvents();
    QCOMPARE(window->windowTitle(), QStringLiteral("Orvanta"));
}

void tst_MainWindowController::keysGoToTheBrowserWhenItComes_data() {
    QTest::addColumn<bool>("searching");
    QTest::newRow("a toolbar button had the keyboard") << false;
    QTest::newRow("the search field keeps it") << true;
}

// A window activated in the empty state has given the keyboard to a toolbar button; when the
// device comes, the browser's column takes it, so typed names select rows. A search the user
// is typing keeps it.
void tst_MainWindowController::keysGoToTheBrowserWhenItComes() {
    QFETCH(bool, searching);
    addDevice(describeDevice(udid, QStringLiteral("Studio iPhone")));
    makeController();
    QMainWindow* window = m_controller->window();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QWidget* before = searching ? static_cast<QWidget*>(window->findChild<QLineEdit*>())
                                : static_cast<QWidget*>(m_controller->toolbar()->copyButton());
    QVERIFY(before);
    before->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), before);
    scan();
    QTRY_VERIFY(m_controller->browserContainer() && m_controller->browserContainer()->columnBrowser() &&
                !m_controller->browserContainer()->columnBrowser()->panels().isEmpty());
    ColumnBrowserViewController* browser = m_controller->browserContainer()->columnBrowser();
    QTRY_VERIFY(!browser->columns().isEmpty() && !browser->columns().first().isLoading);
    drainPostedEvents();
    QCOMPARE(QApplication::focusWidget(),
             searching ? before : static_cast<QWidget*>(browser->panels().first()->tableView()));
}

// --- a device that comes back ---

void tst_MainWindowController::expectRoot(BrowserViewMode mode, const QStringList& expected) {
    const bool locked = expected.isEmpty();
    m_controller->setViewMode(mode);
    BrowserContainerController* container = m_controller->browserContainer();
    QVERIFY(container);
    QTRY_VERIFY(container->currentChild() &&
                container->currentCommandHandler() == m_controller->currentBrowser());
    QStringList names;
    ErrorPlaceholderView* placeholder = nullptr;
    const auto settled = [&] {
        if (mode == BrowserViewMode::column) {
            ColumnBrowserViewController* columns = container->columnBrowser();
            if (!columns || columns->panels().isEmpty() || columns->columns().first().isLoading)
                return false;
            names.clear();
            for (const FileItem& item : columns->panels().first()->items())
                names << item.name();
            placeholder = columns->panels().first()->errorPlaceholder();
            // A locked device shows one column: nothing below its root can be listed.
            return locked ? placeholder && columns->panels().size() == 1 : !placeholder && names == expected;
        }
        FlatBrowserController* flat = mode == BrowserViewMode::list
                                          ? static_cast<FlatBrowserController*>(container->listBrowser())
                                          : container->iconBrowser();
        if (!flat)
            return false;
        names.clear();
        for (const FileItem& item : flat->displayedItems())
            names << item.name();
        placeholder = flat->errorPlaceholder();
        return locked ? bool(placeholder) : !placeholder && names == expected;
    };
    QTRY_VERIFY2(settled(), qPrintable(names.join(u',')));
    drainPostedEvents();
    QVERIFY(settled());
    const NavigationState& navigation = m_controller->navigationState();
    QTRY_COMPARE(navigation.currentDirectoryContents.value().size(), expected.size());
    if (locked) {
        QCOMPARE(placeholder->title(), QStringLiteral("iPhone Is Locked"));
        QCOMPARE(names, QStringList());
        // Nothing of what was listed before stays counted, selected or previewed.
        QVERIFY(navigation.selectedItems.value().isEmpty());
        QTRY_COMPARE(m_controller->statusBarView()->fullText(), QStringLiteral("0 items"));
    }
}

void tst_MainWindowController::aDeviceBackShowsNothingItListedBefore_data() {
    QTest::addColumn<bool>("throughEmptyState");
    QTest::addColumn<bool>("locked");
    QTest::newRow("gone for a scan, back locked") << true << true;
    QTest::newRow("out and back in between two scans, locked: the browser stayed") << false << true;
    QTest::newRow("gone for a scan, back unlocked") << true << false;
}

// A device browsed, then unplugged, perhaps locked, and plugged back, with a file added while it
// was away: every view shows the locked placeholder or the device's folder as it is now, none
// the listing from before. Once unlocked, the next scan lists it again.
void tst_MainWindowController::aDeviceBackShowsNothingItListedBefore() {
    QFETCH(bool, throughEmptyState);
    QFETCH(bool, locked);
    const QStringList before{"Pics", "c.txt"};
    const QStringList after{"Pics", "c.txt", "d.txt"};
    ColumnBrowserViewController* browser = showDeviceColumns();
    QVERIFY(browser);
    // Every view has listed the root once, and a file is selected deeper down.
    for (BrowserViewMode mode : {BrowserViewMode::list, BrowserViewMode::icon, BrowserViewMode::column}) {
        expectRoot(mode, before);
        if (QTest::currentTestFailed())
            return;
    }
    clickRow(0, QStringLiteral("Pics"));
    clickRow(1, QStringLiteral("a.txt"));
    NavigationState& navigation = m_controller->navigationState();
    QTRY_COMPARE(navigation.selectedItems.value().size(), 1);

    fakemux::VirtualDevice& device = *emulator().device(udid.toStdString());
    const QString media = QString::fromStdString(device.description().mediaRoot.string());
    writeFile(media + QStringLiteral("/d.txt"), "x");
    if (throughEmptyState) {
        device.unplug();
        scan();
        QTRY_VERIFY(!m_controller->isShowingBrowser());
        device.faults().setLocked(locked);
        device.plug();
    } else {
        device.faults().setLocked(locked);
        emulator().replug(udid.toStdString());
    }
    scan();
    QTRY_VERIFY(m_controller->isShowingBrowser());
    QTRY_VERIFY(!m_deviceManager->connectedDevices.value().isEmpty() &&
                m_deviceManager->connectedDevices.value().first().isAFCConnected() == !locked);
    for (BrowserViewMode mode : {BrowserViewMode::column, BrowserViewMode::list, BrowserViewMode::icon}) {
        expectRoot(mode, locked ? QStringList() : after);
        if (QTest::currentTestFailed() || !locked)
            return;
    }

    // Unlocked: the scan opens the session, and the view on screen lists without being asked.
    device.faults().setLocked(false);
    scan();
    QTRY_VERIFY(m_deviceManager->connectedDevices.value().first().isAFCConnected());
    QTRY_VERIFY(!m_controller->browserContainer()->iconBrowser()->errorPlaceholder());
    for (BrowserViewMode mode : {BrowserViewMode::icon, BrowserViewMode::column, BrowserViewMode::list}) {
        expectRoot(mode, after);
        if (QTest::currentTestFailed())
            return;
    }
}

// --- the device shown goes ---

void tst_MainWindowController::theShownDeviceGoes_data() {
    QTest::addColumn<QString>("gone");     // the devices unplugged, in order
    QTest::addColumn<QString>("plugged");  // then plugged (back) in; "" for none
    QTest::addColumn<QString>("expected"); // the device and folder shown; "" for the empty state
    QTest::newRow("the shown device goes, the other stays") << "pad" << "" << "phone /";
    QTest::newRow("the other device goes") << "phone" << "" << "pad /Pics";
    QTest::newRow("both go") << "pad phone" << "" << "";
    QTest::newRow("the shown one goes last and comes back: its folder again")
        << "phone pad" << "pad" << "pad /Pics";
    QTest::newRow("the shown one goes last, another comes: that one's root")
        << "phone pad" << "phone" << "phone /";
}

// The folder shown belongs to a device that is there: when its device goes, the window shows the
// root of the first device left, as when a device first comes, and the title and the path bar
// name that device; with none left, the empty state.
void tst_MainWindowController::theShownDeviceGoes() {
    QFETCH(QString, gone);
    QFETCH(QString, plugged);
    QFETCH(QString, expected);
    const QString padUdid = QStringLiteral("00008120-0011223344556677");
    const QHash<QString, QPair<QString, QString>> devices{
        {QStringLiteral("phone"), {udid, QStringLiteral("Studio iPhone")}},
        {QStringLiteral("pad"), {padUdid, QStringLiteral("Work iPad")}}};
    QHash<QString, fakemux::VirtualDevice*> plugs;
    for (const QString& key : {QStringLiteral("phone"), QStringLiteral("pad")}) {
        fakemux::DeviceDescription description = describeDevice(devices[key].first, devices[key].second);
        const QString media = QString::fromStdString(description.mediaRoot.string());
        writeFile(media + QStringLiteral("/Pics/a.txt"), "x");
        writeFile(media + QStringLiteral("/%1.txt").arg(key), "x");
        plugs.insert(key, &addDevice(description));
    }
    showBrowserOfDevices(2);
    if (QTest::currentTestFailed())
        return;
    NavigationState& navigation = m_controller->navigationState();
    navigation.navigate(URL::fromComponents(QStringLiteral("afc"), padUdid, QStringLiteral("/Pics")));
    QTRY_COMPARE(m_controller->window()->windowTitle(), QStringLiteral("Pics"));

    for (const QString& key : gone.split(u' ')) {
        plugs[key]->unplug();
        scan();
    }
    if (!plugged.isEmpty()) {
        QTRY_VERIFY(!m_controller->isShowingBrowser());
        plugs[plugged]->plug();
        scan();
    }
    if (expected.isEmpty()) {
        QTRY_VERIFY(!m_controller->isShowingBrowser());
        drainPostedEvents();
        QCOMPARE(m_controller->window()->windowTitle(), QStringLiteral("Orvanta"));
        return;
    }
    const QString key = expected.section(u' ', 0, 0);
    const QString folder = expected.section(u' ', 1);
    const URL shown = URL::fromComponents(QStringLiteral("afc"), devices[key].first, folder);
    QTRY_VERIFY(m_controller->isShowingBrowser() && m_controller->browserContainer() &&
                m_controller->browserContainer()->columnBrowser());
    QTRY_COMPARE(navigation.currentPath.value(), std::optional<URL>(shown));
    const QString name = devices[key].second;
    QTRY_COMPARE(m_controller->window()->windowTitle(), folder == u"/" ? name : QStringLiteral("Pics"));
    QTRY_COMPARE(segmentTitles(m_controller->pathBarView()).value(0), name);
    // The column lists that device's folder, never an error of the one that went.
    ColumnBrowserViewController* browser = m_controller->browserContainer()->columnBrowser();
    const QStringList names = folder == u"/" ? QStringList{"Pics", key + ".txt"} : QStringList{"a.txt"};
    QTRY_VERIFY(!browser->panels().isEmpty() && !browser->columns().first().isLoading &&
                browser->columns().first().path == shown);
    QTRY_COMPARE(m_controller->navigationState().currentDirectoryContents.value().size(), names.size());
    QVERIFY(!browser->panels().first()->errorPlaceholder());
    QStringList listed;
    for (const FileItem& item : browser->panels().first()->items())
        listed << item.name();
    QCOMPARE(listed, names);
}

void tst_MainWindowController::aDeviceBackWhileAFlatViewIsShown_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("list") << int(BrowserViewMode::list);
    QTest::newRow("icons") << int(BrowserViewMode::icon);
}

// A device out and back in while the list or the icons are on screen: that view shows the folder
// again, and the title and the path bar name it, with no switch to the columns to put them right.
void tst_MainWindowController::aDeviceBackWhileAFlatViewIsShown() {
    QFETCH(int, mode);
    QVERIFY(showDeviceColumns());
    expectRoot(BrowserViewMode(mode), {"Pics", "c.txt"});
    if (QTest::currentTestFailed())
        return;
    NavigationState& navigation = m_controller->navigationState();
    const URL pics = URL::fromComponents(QStringLiteral("afc"), udid, QStringLiteral("/Pics"));
    navigation.navigate(pics);
    QTRY_COMPARE(m_controller->window()->windowTitle(), QStringLiteral("Pics"));

    fakemux::VirtualDevice& device = *emulator().device(udid.toStdString());
    writeFile(QString::fromStdString(device.description().mediaRoot.string()) + QStringLiteral("/Pics/d.txt"),
              "x");
    device.unplug();
    scan();
    QTRY_VERIFY(!m_controller->isShowingBrowser());
    device.plug();
    scan();
    QTRY_VERIFY(m_controller->isShowingBrowser() && m_controller->browserContainer());
    QCOMPARE(navigation.viewMode.value(), BrowserViewMode(mode));
    FlatBrowserController* flat = nullptr;
    const auto shownFlat = [&] {
        BrowserContainerController* container = m_controller->browserContainer();
        flat = !container ? nullptr
               : mode == int(BrowserViewMode::list) ? static_cast<FlatBrowserController*>(container->listBrowser())
                                                    : container->iconBrowser();
        return flat && container->currentCommandHandler() == m_controller->currentBrowser();
    };
    QTRY_VERIFY(shownFlat());
    QStringList names;
    const auto showsPics = [&] {
        names.clear();
        for (const FileItem& item : flat->displayedItems())
            names << item.name();
        return flat->folder() == std::optional<URL>(pics) && names == QStringList{"a.txt", "b.txt", "d.txt"};
    };
    QTRY_VERIFY2(showsPics(), qPrintable(names.join(u',')));
    QTRY_COMPARE(m_controller->window()->windowTitle(), QStringLiteral("Pics"));
    QTRY_COMPARE(segmentTitles(m_controller->pathBarView()), (QStringList{"Studio iPhone", "Pics"}));
    QTRY_COMPARE(navigation.currentDirectoryContents.value().size(), 3);
}
