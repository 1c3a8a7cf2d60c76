// The application's start and end against the emulator: what happens in which order, the
// welcome sheet of the first launch, and a quit while a copy runs.

#include "ChildRun.h"
#include "DeviceTestCase.h"
#include "EventLoop.h"
#include "LogCapture.h"
#include "ScriptedAlertPresenter.h"
#include "app/AboutWindowController.h"
#include "app/AppDelegate.h"
#include "app/ApplicationIcon.h"
#include "app/MainWindowController.h"
#include "app/PathBarView.h"
#include "app/PreferencesWindowController.h"
#include "app/StatusBarView.h"
#include "app/TransferCenterModel.h"
#include "app/TransferCenterViewController.h"
#include "app/TransferCenterWindowController.h"
#include "browser/DragAndDropHandler.h"
#include "device/DeviceManager.h"
#include "device/IMobileDeviceBridge.h"
#include "device/LeftoverJournal.h"
#include "device/ProcessRunner.h"
#include "platform/FileTreeRemoval.h"
#include "platform/NotificationCenter.h"
#include "platform/TemporaryDirectory.h"
#include "platform/UniformType.h"
#include "platform/UserDefaults.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "platform/async/TaskHandle.h"
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "sidebar/QuickLookCoordinator.h"
#include "transfer/TransferManager.h"
#include "uikit/QuickLookPanel.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QThreadPool>

#include <sys/time.h>

#include "TestFiles.h"

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");

// Records when monitoring starts and stops and what stood at that moment; it never scans.
class RecordingDeviceManager : public DeviceManager {
public:
    using DeviceManager::DeviceManager;
    std::function<QString()> describe;
    QStringList events;
    bool scans = false;

    void startMonitoring() override {
        events << QStringLiteral("start ") + describe();
        if (scans)
            DeviceManager::startMonitoring();
    }
    void stopMonitoring() override {
        events << QStringLiteral("stop ") + describe();
        DeviceManager::stopMonitoring();
    }
};

} // namespace

class tst_AppDelegate : public DeviceTestCase {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startAndQuitOrder();
    void welcomeSheet_data();
    void welcomeSheet();
    void quitDuringCopyLeavesNoPartialFile_data();
    void quitDuringCopyLeavesNoPartialFile();
    void transferCenterIsMadeOnceAndShownAgain();
    void transferCenterShowsADeviceFolderInTheMainWindow();
    void monitoringHasEndedWhenQuitReturns();
    void launchPutsBackWhatACutOffCopySetAside();
    void closingTheMainWindowQuits_data();
    void quitRemovesTheRunsTemporaryCopies();
    void launchRemovesTheCopiesOfEndedRuns_data();
    void launchRemovesTheCopiesOfEndedRuns();
    void launchRemovesOlderVersionsCopiesADayOld_data();
    void launchRemovesOlderVersionsCopiesADayOld();
    void windowSizes_data();
    void windowSizes();
    void windowsAreOnePerKind_data();
    void windowsAreOnePerKind();
    void windowsWearTheApplicationIcon();
    void closingTheMainWindowQuits();

private:
    std::unique_ptr<AppDelegate> makeDelegate();
    // Launched past the welcome, scanning, with one emulated device found.
    bool launchWithOneDevice();
    // The window a command shows (Preferences, About or the Transfer Center).
    QWidget* windowOf(const QString& command) const;
    QString state() const;

    QTemporaryDir m_home;
    QTemporaryDir m_temporary;
    async::ManualClock m_clock;
    NotificationCenter m_notifications;
    RecordingDeviceManager* m_deviceManager = nullptr;
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<LogCapture> m_log;
    int m_tasksBefore = 0;
};

void tst_AppDelegate::initTestCase() {
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    // Quitting removes the run's temporary copies: this run's temporary folder is the test's own.
    qputenv("TMPDIR", m_temporary.path().toUtf8());
    UserDefaults::setStandardFilePathForTesting(m_home.filePath(QStringLiteral("defaults.plist")));
}

void tst_AppDelegate::init() {
    setUpTest();
    UserDefaults& defaults = PreferencesViewController::defaults();
    for (const QString& key : defaults.keys())
        defaults.remove(key);
    m_log = std::make_unique<LogCapture>();
    m_tasksBefore = async::spawnedTasksRunning();
}

void tst_AppDelegate::cleanup() {
    const int before = m_tasksBefore;
    m_delegate.reset();
    // The window's last listing tasks end once the services have answered their pending work;
    // a task left suspended at the end of the run would be reported as leaked.
    QTRY_VERIFY_WITH_TIMEOUT(async::spawnedTasksRunning() <= before, 20000);
    m_log.reset();
    tearDownTest();
}

// What a recorded moment saw: the main window, the welcome sheet, running transfer tasks and
// the terminating line.
QString tst_AppDelegate::state() const {
    MainWindowController* controller = m_delegate ? m_delegate->mainWindowController() : nullptr;
    const bool window = controller && controller->window()->isVisible();
    const bool sheet = m_delegate && m_delegate->firstRunSheet() && m_delegate->firstRunSheet()->isVisible();
    const bool running = m_delegate && m_delegate->transferManager().runningTransferTasks() > 0;
    const bool terminated =
        m_log->contains(LogCapture::category("ui"), QStringLiteral("Orvanta terminating"));
    return QStringLiteral("window=%1 sheet=%2 running=%3 terminated=%4")
        .arg(window)
        .arg(sheet)
        .arg(running)
        .arg(terminated);
}

QWidget* tst_AppDelegate::windowOf(const QString& command) const {
    if (command == u"showPreferences:")
        return m_delegate->preferencesWindowController()->window();
    if (command == u"showAbout:")
        return m_delegate->aboutWindowController()->window();
    return m_delegate->transferCenterWindowController()->window();
}

std::unique_ptr<AppDelegate> tst_AppDelegate::makeDelegate() {
    AppDelegate::Services services;
    auto deviceManager = std::make_unique<RecordingDeviceManager>(
        std::make_shared<IMobileDeviceBridge>(std::make_shared<ProcessRunner>()));
    deviceManager->describe = [this] {
        return state();
    };
    m_deviceManager = deviceManager.get();
    services.deviceManager = std::move(deviceManager);
    services.transferManager =
        std::make_shared<TransferManager>(PreferencesViewController::defaults(), m_clock, m_notifications);
    services.alertPresenter = std::make_shared<ScriptedAlertPresenter>();
    return std::make_unique<AppDelegate>(std::move(services));
}

bool tst_AppDelegate::launchWithOneDevice() {
    addDevice(describeDevice(udid));
    PreferencesViewController::defaults().set(QString(PreferencesViewController::hasCompletedFirstRunKey),
                                              true);
    m_delegate = makeDelegate();
    m_deviceManager->scans = true;
    m_delegate->applicationDidFinishLaunching();
    return QTest::qWaitFor([this] { return m_deviceManager->connectedDevices.value().size() == 1; }, 20000);
}

// Nothing before launching has finished; then the window and the sheet, and only then
// monitoring. At the end monitoring stops before the terminating line.
void tst_AppDelegate::startAndQuitOrder() {
    m_delegate = makeDelegate();
    QVERIFY(!m_delegate->mainWindowController());
    QVERIFY(m_deviceManager->events.isEmpty());

    m_delegate->applicationDidFinishLaunching();
    QVERIFY(m_log->contains(LogCapture::category("ui"), QStringLiteral("Orvanta launched")));
    m_delegate->applicationWillTerminate();
    QCOMPARE(m_deviceManager->events, (QStringList{"start window=1 sheet=1 running=0 terminated=0",
                                                   "stop window=1 sheet=1 running=0 terminated=0"}));
    QVERIFY(m_log->contains(LogCapture::category("ui"), QStringLiteral("Orvanta terminating")));
}

void tst_AppDelegate::welcomeSheet_data() {
    QTest::addColumn<QString>("how"); // "return", "escape" or "close"
    QTest::addColumn<bool>("dismissed");
    QTest::newRow("Return presses Get Started") << "return" << true;
    QTest::newRow("Escape does nothing") << "escape" << false;
    QTest::newRow("the close request does nothing") << "close" << false;
}

void tst_AppDelegate::welcomeSheet() {
    QFETCH(QString, how);
    QFETCH(bool, dismissed);
    m_delegate = makeDelegate();
    m_delegate->applicationDidFinishLaunching();
    QPointer<QDialog> sheet = m_delegate->firstRunSheet();
    QVERIFY(sheet);
    QCOMPARE(sheet->windowTitle(), QStringLiteral("Welcome to Orvanta"));
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    QCOMPARE(sheet->parentWidget(), m_delegate->mainWindowController()->window());
    QVERIFY(!(sheet->windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(QTest::qWaitForWindowExposed(sheet));

    if (how == u"return")
        QTest::keyClick(sheet, Qt::Key_Return);
    else if (how == u"escape")
        QTest::keyClick(sheet, Qt::Key_Escape);
    else
        sheet->close();
    QCoreApplication::processEvents();

    QCOMPARE(!sheet || !sheet->isVisible(), dismissed);
    QCOMPARE(PreferencesViewController::hasCompletedFirstRun(), dismissed);
    m_delegate->applicationWillTerminate();
    m_delegate.reset();

    // The next launch shows the sheet exactly when it was not dismissed.
    m_delegate = makeDelegate();
    m_delegate->applicationDidFinishLaunching();
    QCOMPARE(m_delegate->firstRunSheet() != nullptr, !dismissed);
}

void tst_AppDelegate::quitDuringCopyLeavesNoPartialFile_data() {
    QTest::addColumn<bool>("deviceAnswers"); // false: the device never answers the held read
    QTest::newRow("device answers") << true;
    QTest::newRow("device silent") << false;
}

// Quitting cancels the copy and lets it clean up before monitoring stops: no partial file, one
// "cancelled" history entry. A device that has stopped answering holds the quit for less than a
// second.
void tst_AppDelegate::quitDuringCopyLeavesNoPartialFile() {
    QFETCH(bool, deviceAnswers);
    fakemux::DeviceDescription description = describeDevice(udid);
    const QString media = QString::fromStdString(description.mediaRoot.string());
    const qint64 size = 4 * 1024 * 1024;
    {
        QFile file(media + QStringLiteral("/IMG_0001.MOV"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(QByteArray(size, 'v')) == size);
    }
    fakemux::VirtualDevice& device = addDevice(std::move(description));
    device.faults().gateReads(1024 * 1024);

    PreferencesViewController::defaults().set(QString(PreferencesViewController::hasCompletedFirstRunKey),
                                              true);
    m_delegate = makeDelegate();
    m_delegate->applicationDidFinishLaunching();
    const QString destination = scratchPath(QStringLiteral("Downloads"));
    const URL source = URL::fromComponents(QStringLiteral("afc"), udid, QStringLiteral("/IMG_0001.MOV"));
    const FileItem item(source.absoluteString(), source.lastPathComponent(), source, false, quint64(size),
                        Date::now(), FileKind::video, std::nullopt);
    TransferManager& transfers = m_delegate->transferManager();
    const Transfer transfer = transfers.startTransfer(QList<FileItem>{item}, URL::fileURL(destination, true));
    transfers.launchTask(transfer);
    QTRY_VERIFY(device.faults().waitUntilReadHeld(std::chrono::milliseconds(1)));

    // The held read goes on once the quit has cancelled the copy.
    if (deviceAnswers)
        QTimer::singleShot(0, [&device] { device.faults().releaseReads(); });
    QElapsedTimer quitting;
    quitting.start();
    m_delegate->applicationWillTerminate();
    QVERIFY2(quitting.elapsed() < 1000, qPrintable(QString::number(quitting.elapsed())));
    QVERIFY(m_log->contains(LogCapture::category("ui"), QStringLiteral("Orvanta terminating")));

    QCOMPARE(m_deviceManager->events.last(), QStringLiteral("stop window=1 sheet=0 running=0 terminated=0"));
    QCOMPARE(QDir(destination).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    const QList<TransferHistoryEntry> history = transfers.transferHistory.value();
    QCOMPARE(history.size(), 1);
    QCOMPARE(history.first().state(), TransferState::cancelled);
}

// The scan loop's task is over before the services go, so nothing of it outlives its manager.
void tst_AppDelegate::monitoringHasEndedWhenQuitReturns() {
    QVERIFY(launchWithOneDevice());
    const async::TaskHandle<void> monitoring = m_deviceManager->monitoringTask();
    QVERIFY(!monitoring.isFinished());

    m_delegate->applicationWillTerminate();
    QVERIFY(monitoring.isFinished());
}

// The command makes the window on first use and shows the same one again after a close; closed,
// it keeps following the history.
void tst_AppDelegate::transferCenterIsMadeOnceAndShownAgain() {
    PreferencesViewController::defaults().set(QString(PreferencesViewController::hasCompletedFirstRunKey),
                                              true);
    m_delegate = makeDelegate();
    m_delegate->applicationDidFinishLaunching();
    QVERIFY(!m_delegate->transferCenterWindowController());

    QVERIFY(m_delegate->commandRouter().sendAction(QStringLiteral("showTransferCenter:")));
    TransferCenterWindowController* controller = m_delegate->transferCenterWindowController();
    QVERIFY(controller);
    QWidget* window = controller->window();
    QVERIFY(window->isVisible());
    window->close();

    m_delegate->transferManager().transferHistory =
        QList<TransferHistoryEntry>{TransferHistoryEntry(Transfer{})};
    QVERIFY(m_delegate->commandRouter().sendAction(QStringLiteral("showTransferCenter:")));
    QCOMPARE(m_delegate->transferCenterWindowController(), controller);
    QCOMPARE(controller->window(), window);
    QVERIFY(window->isVisible());
    QTRY_COMPARE(controller->viewController()->model()->rowCount(), 1);
    m_delegate->applicationWillTerminate();
}

// No program of the desktop can show a folder on the phone: Reveal Destination takes the main
// window there, and the destination reads with the device's name.
void tst_AppDelegate::transferCenterShowsADeviceFolderInTheMainWindow() {
    QVERIFY(launchWithOneDevice());
    const iOSDevice device = m_deviceManager->connectedDevices.value().first();
    const URL books = URL::fromComponents(QStringLiteral("afc"), device.udid(), QStringLiteral("/Books/"));
    Transfer transfer;
    transfer.destination = books;
    m_delegate->transferManager().transferHistory =
        QList<TransferHistoryEntry>{TransferHistoryEntry(transfer)};

    QVERIFY(m_delegate->commandRouter().sendAction(QStringLiteral("showTransferCenter:")));
    TransferCenterViewController* center = m_delegate->transferCenterWindowController()->viewController();
    QTRY_COMPARE(center->model()->rowCount(), 1);
    const QModelIndex destination = center->model()->index(0, TransferCenterModel::destination);
    QTRY_COMPARE(destination.data().toString(), device.name() + QStringLiteral(" › Books"));
    center->tableView()->selectRow(0);
    QVERIFY(center->revealButton()->isEnabled());
    center->revealButton()->click();
    NavigationState& navigation = m_delegate->mainWindowController()->navigationState();
    QVERIFY(navigation.currentPath.value());
    QVERIFY(navigation.currentPath.value()->isSameLocation(books));
    QVERIFY(m_delegate->mainWindowController()->window()->isVisible());
    m_delegate->applicationWillTerminate();
}

// An earlier run stopped while a replacement was made: the old file waits under its hidden name,
// and the new one never took its name. Launching puts it back.
void tst_AppDelegate::launchPutsBackWhatACutOffCopySetAside() {
    const QString hidden =
        scratchPath(QStringLiteral("dst")) + QStringLiteral("/.orvanta-aside-0000000000000001");
    const QString original = scratchPath(QStringLiteral("dst")) + QStringLiteral("/Report.pdf");
    QVERIFY(writeTestFile(hidden, "the only copy"));
    const std::shared_ptr<LeftoverJournal> journal = LeftoverJournal::shared();
    const LeftoverJournal::Entry entry{LeftoverJournal::Kind::asideItem, QString(), QString(), hidden,
                                       original};
    QVERIFY(journal->begin(entry));
    journal->released(entry);
    m_delegate = makeDelegate();

    m_delegate->applicationDidFinishLaunching();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(20000));

    QCOMPARE(fileContents(original), QByteArray("the only copy"));
    QVERIFY(journal->entries().isEmpty());
    m_delegate->applicationWillTerminate();
}

void tst_AppDelegate::closingTheMainWindowQuits_data() {
    QTest::addColumn<QString>("command"); // opens the window that stays open
    QTest::newRow("Transfer Center open") << "showTransferCenter:";
    QTest::newRow("Preferences open") << "showPreferences:";
    QTest::newRow("About open") << "showAbout:";
}

// The menu bar lives in the main window: closing it while another window is open quits as the
// menu's Quit does, and the other window goes with it.
void tst_AppDelegate::closingTheMainWindowQuits() {
    QFETCH(QString, command);
    PreferencesViewController::defaults().set(QString(PreferencesViewController::hasCompletedFirstRunKey),
                                              true);
    m_delegate = makeDelegate();
    QList<int> exits;
    m_delegate->exitApplication = [&exits](int status) {
        exits << status;
    };
    m_delegate->applicationDidFinishLaunching();
    QVERIFY(m_delegate->commandRouter().sendAction(command));
    QWidget* other = windowOf(command);
    QVERIFY(other->isVisible());
    QVERIFY(exits.isEmpty());

    m_delegate->mainWindowController()->window()->close();
    QCOMPARE(exits, QList<int>{0});
    QVERIFY(!other->isVisible());
    m_delegate->applicationWillTerminate();
    QVERIFY(m_log->contains(LogCapture::category("ui"), QStringLiteral("Orvanta terminating")));
}

// The copies Quick Look made of device files go at quit; what another run left in the same
// folder stays.
void tst_AppDelegate::quitRemovesTheRunsTemporaryCopies() {
    fakemux::DeviceDescription description = describeDevice(udid);
    const QString media = QString::fromStdString(description.mediaRoot.string());
    {
        QFile notes(media + QStringLiteral("/notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("notes") == 5);
    }
    addDevice(std::move(description));
    PreferencesViewController::defaults().set(QString(PreferencesViewController::hasCompletedFirstRunKey),
                                              true);
    m_delegate = makeDelegate();
    m_delegate->applicationDidFinishLaunching();
    // The launch's own sweep removes an empty preview folder: let it end before another run's
    // copy is made there, or it may take the folder from under the test.
    QVERIFY(QThreadPool::globalInstance()->waitForDone(20000));
    const QString root = privateTemporaryDirectory();
    QVERIFY(root.startsWith(m_temporary.path()));
    const QString otherRun = root + QStringLiteral("/OrvantaPreview/0123456789abcdef/IMG_0001.MOV");
    QVERIFY(QDir().mkpath(QFileInfo(otherRun).absolutePath()));
    {
        QFile copy(otherRun);
        QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write("movie") == 5);
    }

    MainWindowController* main = m_delegate->mainWindowController();
    const URL url = URL::fromComponents(QStringLiteral("afc"), udid, QStringLiteral("/notes.txt"));
    const FileItem notes(url.absoluteString(), QStringLiteral("notes.txt"), url, false, 5, Date::now(),
                         FileKind::document, UniformType::forFilenameExtension(QStringLiteral("txt")));
    main->navigationState().currentDirectoryContents = QList<FileItem>{notes};
    main->navigationState().selectedItems = QSet<FileItem>{notes};
    QuickLookCoordinator* quickLook = main->quickLookCoordinator();
    quickLook->showPanel(QuickLookPanel::shared());
    for (const auto& task : quickLook->panelTasks())
        async::runSync(task.result(), std::chrono::seconds(30));
    QCOMPARE(quickLook->tempFiles().size(), 1);
    const QString made = quickLook->tempFiles().begin()->toLocalFile();
    QVERIFY(QFileInfo::exists(made));
    // In the run's own folder, which the next start takes if this run never quits.
    QVERIFY(made.startsWith(runTemporaryDirectory() + u'/'));

    m_delegate->applicationWillTerminate();
    QVERIFY(!QFileInfo::exists(made));
    QVERIFY(QFileInfo::exists(otherRun));
}

namespace {

// What a run of the program leaves in its temporary folder while it runs: a device file a drag
// handed to another program.
QStringList makeCopiesAsARunDoes() {
    const QString staged = DragAndDropHandler::defaultStagingRoot() +
                           QStringLiteral("/0A1B2C3D-0000-4000-8000-00000000F00D/0/clip.mov");
    if (!writeTestFile(staged, patternBytes(1 << 20)))
        return {};
    return {staged};
}

} // namespace

void tst_AppDelegate::launchRemovesTheCopiesOfEndedRuns_data() {
    QTest::addColumn<bool>("killed"); // else it runs on while this one starts, then quits
    QTest::newRow("a run that was killed") << true;
    QTest::newRow("a run still running") << false;
}

// A run ended by a signal's default action or a crash never quits: the next start removes its
// copies. Those of a run still going stay, since a receiver may not have copied them yet; that
// run removes them when it quits.
void tst_AppDelegate::launchRemovesTheCopiesOfEndedRuns() {
    QFETCH(bool, killed);
    ChildRun::Child other;
    QVERIFY(other.start());
    QVERIFY(!other.copies().isEmpty());
    for (const QString& copy : other.copies())
        QVERIFY2(QFileInfo::exists(copy), qPrintable(copy));
    if (killed)
        QVERIFY(other.kill());

    PreferencesViewController::defaults().set(QString(PreferencesViewController::hasCompletedFirstRunKey),
                                              true);
    m_delegate = makeDelegate();
    m_delegate->applicationDidFinishLaunching();
    QThreadPool::globalInstance()->waitForDone();
    for (const QString& copy : other.copies())
        QVERIFY2(QFileInfo::exists(copy) == !killed, qPrintable(copy));
    if (killed)
        return;
    QVERIFY(other.quit());
    for (const QString& copy : other.copies())
        QVERIFY2(!QFileInfo::exists(copy), qPrintable(copy));
}

void tst_AppDelegate::launchRemovesOlderVersionsCopiesADayOld_data() {
    QTest::addColumn<QString>("entry"); // in the private temporary folder, last changed as "aged" says
    QTest::addColumn<QString>("file");  // below it; none when the entry is the file
    QTest::addColumn<bool>("aged");     // changed 25 hours ago, else just now
    QTest::addColumn<bool>("removed");
    const struct {
        const char* row;
        const char* entry;
        const char* file;
        bool ours;
    } entries[] = {
        {"a drag's folder", "OrvantaDragOut/0A1B2C3D-0000-4000-8000-00000000BEEF", "0/clip.mov", true},
        {"a preview's copies", "OrvantaPreview/fedcba9876543210", "IMG_0001.MOV", true},
        {"a thumbnail's copy", "OrvantaThumbnails/1f2e_IMG_0002.MOV", "", true},
        {"a copy between devices", "6f1c2a9e-3b4d-4e5f-8a7b-9c0d1e2f3a4b", "Photo.jpg", true},
        {"something else", "notes", "a.txt", false},
    };
    for (const auto& each : entries) {
        for (const bool aged : {false, true}) {
            QTest::addRow("%s, %s", each.row, aged ? "a day old" : "new")
                << QString::fromLatin1(each.entry) << QString::fromLatin1(each.file) << aged
                << (aged && each.ours);
        }
    }
}

// Versions that had no run folders made their copies straight in folders every run shares,
// which tell nobody whose they are: a run of such a version still going may yet hand them to a
// receiver, so they go once a day old, and nothing that is not a copy of ours goes at all.
void tst_AppDelegate::launchRemovesOlderVersionsCopiesADayOld() {
    QFETCH(QString, entry);
    QFETCH(QString, file);
    QFETCH(bool, aged);
    QFETCH(bool, removed);
    const QString path = privateTemporaryDirectory() + u'/' + entry;
    QVERIFY(writeTestFile(file.isEmpty() ? path : path + u'/' + file, "copy"));
    if (aged) {
        const qint64 then = QDateTime::currentSecsSinceEpoch() - 25 * 3600;
        const timeval times[2] = {{then, 0}, {then, 0}};
        QVERIFY(::utimes(QFile::encodeName(path).constData(), times) == 0);
    }

    PreferencesViewController::defaults().set(QString(PreferencesViewController::hasCompletedFirstRunKey),
                                              true);
    m_delegate = makeDelegate();
    m_delegate->applicationDidFinishLaunching();
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(QFileInfo::exists(path), !removed);
    QVERIFY(removeFileTree(path));
}

namespace {

constexpr int unbounded = QWIDGETSIZE_MAX;

} // namespace

void tst_AppDelegate::windowSizes_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<QSize>("size");    // an invalid size: not checked
    QTest::addColumn<QSize>("minimum"); // the same
    QTest::addColumn<QSize>("maximum");
    QTest::addColumn<QString>("title");
    QTest::newRow("main window") << "main" << QSize(1100, 700) << QSize(800, 500)
                                 << QSize(unbounded, unbounded) << "Orvanta";
    QTest::newRow("sidebar") << "sidebar" << QSize() << QSize(180, 0) << QSize(350, unbounded) << "";
    QTest::newRow("browser") << "browser" << QSize() << QSize(400, 0) << QSize(unbounded, unbounded) << "";
    QTest::newRow("preview pane") << "preview" << QSize() << QSize(160, 0) << QSize(300, unbounded) << "";
    QTest::newRow("path bar") << "pathBar" << QSize() << QSize(0, 24) << QSize(unbounded, 24) << "";
    QTest::newRow("status bar") << "statusBar" << QSize() << QSize(0, 22) << QSize(unbounded, 22) << "";
    // Fixed: neither can be resized. Preferences is wider than 480 only where the font needs it
    // for its labels on one line (checked below).
    QTest::newRow("Preferences") << "showPreferences:" << QSize() << QSize() << QSize()
                                 << "Orvanta Preferences";
    QTest::newRow("About") << "showAbout:" << QSize(360, 420) << QSize(360, 420) << QSize(360, 420)
                           << "About Orvanta";
    // Resizable down to what its buttons need.
    QTest::newRow("Transfer Center") << "showTransferCenter:" << QSize(900, 420) << QSize()
                                     << QSize(unbounded, unbounded) << "Transfer Center";
}

// The windows' and panes' sizes and limits as they are on screen, not as the code meant them.
void tst_AppDelegate::windowSizes() {
    QFETCH(QString, what);
    QFETCH(QSize, size);
    QFETCH(QSize, minimum);
    QFETCH(QSize, maximum);
    QFETCH(QString, title);
    PreferencesViewController::defaults().set(QString(PreferencesViewController::hasCompletedFirstRunKey),
                                              true);
    m_delegate = makeDelegate();
    m_delegate->applicationDidFinishLaunching();
    MainWindowController* main = m_delegate->mainWindowController();
    // The first (empty) device list shows the empty state; the browser comes after it.
    drainPostedEvents();
    main->showBrowser();
    const QHash<QString, QWidget*> panes{{"main", main->window()},
                                         {"sidebar", main->sidebarView()},
                                         {"browser", main->browserContainerView()},
                                         {"preview", main->previewPaneView()},
                                         {"pathBar", main->pathBarView()},
                                         {"statusBar", main->statusBarView()}};
    QWidget* widget = panes.value(what);
    if (!widget) {
        QVERIFY(m_delegate->commandRouter().sendAction(what));
        widget = windowOf(what);
    }
    QVERIFY(widget);
    QVERIFY(QTest::qWaitForWindowExposed(widget->window()));
    if (size.isValid())
        QCOMPARE(widget->size(), size);
    if (minimum.isValid())
        QCOMPARE(widget->minimumSize(), minimum);
    if (maximum.isValid())
        QCOMPARE(widget->maximumSize(), maximum);
    if (what == u"showPreferences:") {
        QCOMPARE(widget->height(), 520);
        QVERIFY(widget->width() >= 480);
        QCOMPARE(widget->minimumSize(), widget->size());
        QCOMPARE(widget->maximumSize(), widget->size());
    }
    if (!title.isEmpty())
        QCOMPARE(widget->windowTitle(), title);
    if (what == u"showTransferCenter:") {
        QTableView* table = m_delegate->transferCenterWindowController()->viewController()->tableView();
        QList<int> widths;
        for (int column = 0; column + 1 < table->model()->columnCount(); ++column)
            widths << table->columnWidth(column);
        QCOMPARE(widths, (QList<int>{220, 100, 150, 160}));
        // The destination takes the rest of the window's width, without scrolling sideways.
        QCOMPARE(table->horizontalScrollBar()->maximum(), 0);
    }
    m_delegate->applicationWillTerminate();
}

// Every window's frame shows the application's own icon, and the desktop can match the windows
// to the installed desktop entry.
void tst_AppDelegate::windowsWearTheApplicationIcon() {
    PreferencesViewController::defaults().set(QString(PreferencesViewController::hasCompletedFirstRunKey),
                                              true);
    m_delegate = makeDelegate();
    m_delegate->applicationDidFinishLaunching();
    QCOMPARE(QGuiApplication::desktopFileName(), QLatin1String(ApplicationIcon::desktopName));
    const QImage expected = ApplicationIcon::icon().pixmap(32, 32).toImage();
    QList<QWidget*> windows{m_delegate->mainWindowController()->window()};
    for (const QString command : {"showPreferences:", "showAbout:", "showTransferCenter:"}) {
        QVERIFY(m_delegate->commandRouter().sendAction(command));
        windows << windowOf(command);
    }
    for (QWidget* window : std::as_const(windows))
        QVERIFY2(window->windowIcon().pixmap(32, 32).toImage() == expected,
                 qPrintable(window->windowTitle()));
    m_delegate->applicationWillTerminate();
}

void tst_AppDelegate::windowsAreOnePerKind_data() {
    QTest::addColumn<QString>("command");
    QTest::newRow("Preferences") << "showPreferences:";
    QTest::newRow("About") << "showAbout:";
    QTest::newRow("Transfer Center") << "showTransferCenter:";
}

// Asked for twice, and again after it was closed, the window is the one made first.
void tst_AppDelegate::windowsAreOnePerKind() {
    QFETCH(QString, command);
    PreferencesViewController::defaults().set(QString(PreferencesViewController::hasCompletedFirstRunKey),
                                              true);
    m_delegate = makeDelegate();
    m_delegate->applicationDidFinishLaunching();
    QVERIFY(m_delegate->commandRouter().sendAction(command));
    QWidget* first = windowOf(command);
    const int windows = QApplication::topLevelWidgets().size();
    QVERIFY(m_delegate->commandRouter().sendAction(command));
    QCOMPARE(windowOf(command), first);
    first->close();
    QVERIFY(m_delegate->commandRouter().sendAction(command));
    QCOMPARE(windowOf(command), first);
    QVERIFY(first->isVisible());
    QCOMPARE(QApplication::topLevelWidgets().size(), windows);
    m_delegate->applicationWillTerminate();
}

int main(int argc, char** argv) {
    if (ChildRun::asked())
        return ChildRun::run(makeCopiesAsARunDoes);
    ORVANTA_DEVICE_TEST_RUN(QApplication, tst_AppDelegate)
}
#include "tst_AppDelegate.moc"
