// The Quick Look coordinator over the emulator: what the panel is given for a selection, where
// device copies go and when the device is read, the debounce while the panel is open, and the
// keys it passes to the main window.

#include "DeviceTestCase.h"
#include "LogCapture.h"
#include "RequestCount.h"
#include "ScriptedAlertPresenter.h"
#include "TemporaryDefaults.h"
#include "TestFiles.h"
#include "TestMedia.h"
#include "WidgetDeviceTestMain.h"
#include "app/MainWindowController.h"
#include "device/AFCBridge.h"
#include "device/DeviceManager.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunner.h"
#include "platform/ManualUiTimerSource.h"
#include "platform/NotificationCenter.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "services/NavigationState.h"
#include "sidebar/QuickLookCoordinator.h"
#include "transfer/TransferManager.h"
#include "uikit/CommandRouter.h"
#include "uikit/QuickLookPanel.h"
#include "uikit/Workspace.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>

using namespace std::chrono_literals;
using async::runSync;

namespace {

const QString firstUdid = QStringLiteral("00008110-000A11111111111E");
const QString secondUdid = QStringLiteral("00008110-000B22222222222E");

// Typed by the location's extension, as a listing types it.
FileItem item(const URL& url, const QString& name, bool isDirectory = false, quint64 size = 0) {
    const std::optional<UniformType> type =
        isDirectory ? std::nullopt : UniformType::forFilenameExtension(url.pathExtension());
    return FileItem(url.absoluteString(), name, url, isDirectory, size, Date(),
                    isDirectory ? FileKind::folder : FileKind::fromUTI(type), type);
}

FileItem onDevice(const QString& udid, const QString& path, const QString& name = {}) {
    const URL url = URL::fromComponents(QStringLiteral("afc"), udid, path);
    return item(url, name.isEmpty() ? url.lastPathComponent() : name);
}

// Records the keys that reach it, as the browser's focused view would.
class KeyRecorder : public QLineEdit {
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent* event) override { keys << event->key(); }
};

} // namespace

class tst_QuickLookCoordinator : public DeviceTestCase {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void computerAndDeviceFiles();
    void failingReadIsLeftOutAndTriedAgain();
    void foldersOnlyShowNothing();
    void unsafeNamesStayInsideTheFolder_data();
    void unsafeNamesStayInsideTheFolder();
    void oneCopyPerLocationAtATime();
    void openPanelFollowsTheSettledSelection();
    void arrowKeysReachTheBrowser_data();
    void arrowKeysReachTheBrowser();
    void windowTogglesThePanel();
    void filesThePanelCannotShowStayOnTheDevice();
    void deviceDocumentOpensFromACopy();
    void nothingToOpenWithIsSaid_data();
    void nothingToOpenWithIsSaid();
    void computerPdfIsReadOnce();

private:
    // A device whose media holds these files (path → bytes).
    void plug(const QString& udid, const QMap<QString, QByteArray>& files) {
        fakemux::DeviceDescription description = describeDevice(udid);
        const QString root = QString::fromStdString(description.mediaRoot.string());
        for (auto it = files.begin(); it != files.end(); ++it)
            QVERIFY(writeTestFile(root + it.key(), it.value()));
        m_devices.insert(udid, &addDevice(std::move(description)));
    }
    void select(const QList<FileItem>& items) {
        m_navigation->currentDirectoryContents = items;
        m_navigation->selectedItems = QSet<FileItem>(items.begin(), items.end());
    }
    // Shows the panel for the selection and waits for the coordinator's task.
    void show() {
        m_coordinator->showPanel(QuickLookPanel::shared());
        awaitTasks();
    }
    void awaitTasks() {
        for (const auto& task : m_coordinator->panelTasks())
            runSync(task.result(), 30s);
    }
    QString previewFolder() const {
        return scratchPath(QStringLiteral("tmp")) + QStringLiteral("/OrvantaPreview");
    }
    QString copyPath(const FileItem& file) const {
        return previewFolder() + QLatin1Char('/') + QuickLookCoordinator::locationFolderName(file.path()) +
               QLatin1Char('/') + file.name();
    }
    QStringList filesBelowPreview() const {
        QStringList files;
        QDirIterator it(scratchPath(QStringLiteral("tmp")), QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        return files;
    }

    std::unique_ptr<TemporaryDefaults> m_defaults;
    std::unique_ptr<NavigationState> m_navigation;
    std::shared_ptr<AFCBridge> m_bridge;
    std::unique_ptr<ManualUiTimerSource> m_timers;
    std::unique_ptr<QuickLookCoordinator> m_coordinator;
    QMap<QString, fakemux::VirtualDevice*> m_devices;
};

void tst_QuickLookCoordinator::init() {
    setUpTest();
    m_defaults = std::make_unique<TemporaryDefaults>();
    m_navigation = std::make_unique<NavigationState>(m_defaults->store());
    m_bridge = std::make_shared<AFCBridge>();
    m_timers = std::make_unique<ManualUiTimerSource>();
    m_coordinator = std::make_unique<QuickLookCoordinator>(*m_navigation, m_bridge, *m_timers,
                                                           scratchPath(QStringLiteral("tmp")));
}

void tst_QuickLookCoordinator::cleanup() {
    m_coordinator.reset();
    QuickLookPanel::destroyShared();
    m_timers.reset();
    m_bridge.reset();
    m_navigation.reset();
    m_defaults.reset();
    m_devices.clear();
    tearDownTest();
}

// The computer file as it is and the device files as copies in their own subfolders (two of one
// name on two devices each with its own bytes), in the browser's order; showing again reads
// nothing more, and a copy serves on even when the device file changed meanwhile (but not once
// the copy itself is gone).
void tst_QuickLookCoordinator::computerAndDeviceFiles() {
    plug(firstUdid, {{"/DCIM/IMG_0001.JPG", "first photo"}, {"/Downloads/notes.txt", "some notes"}});
    plug(secondUdid, {{"/DCIM/IMG_0001.JPG", "same name, other device"}});
    QTemporaryDir computer;
    QVERIFY(writeTestFile(computer.filePath("local.txt"), "here"));
    const FileItem local = item(URL::fileURL(computer.filePath("local.txt")), "local.txt");
    const FileItem photo = onDevice(firstUdid, "/DCIM/IMG_0001.JPG");
    const FileItem notes = onDevice(firstUdid, "/Downloads/notes.txt");
    const FileItem twin = onDevice(secondUdid, "/DCIM/IMG_0001.JPG");
    select({notes, local, photo, twin});

    show();
    const QList<URL> expected{URL::fileURL(copyPath(notes)), local.path(), URL::fileURL(copyPath(photo)),
                              URL::fileURL(copyPath(twin))};
    QCOMPARE(m_coordinator->previewItems(), expected);
    QuickLookPanel* panel = QuickLookPanel::sharedIfExists();
    QCOMPARE(panel->items(), expected);
    QVERIFY(panel->isPanelVisible());
    QCOMPARE(fileContents(copyPath(photo)), QByteArray("first photo"));
    QCOMPARE(fileContents(copyPath(notes)), QByteArray("some notes"));
    QCOMPARE(fileContents(copyPath(twin)), QByteArray("same name, other device"));
    QCOMPARE(QFileInfo(copyPath(twin)).fileName(), QStringLiteral("IMG_0001.JPG"));
    const size_t opens = countAfcRequests("FILE_OPEN");
    QCOMPARE(opens, size_t(3));

    QVERIFY(writeTestFile(QString::fromStdString(m_devices[firstUdid]->description().mediaRoot.string()) +
                              "/DCIM/IMG_0001.JPG",
                          "changed"));
    panel->orderOut();
    show();
    QCOMPARE(countAfcRequests("FILE_OPEN"), opens);
    QCOMPARE(m_coordinator->previewItems(), expected);
    QCOMPARE(fileContents(copyPath(photo)), QByteArray("first photo"));

    // A copy removed from the temporary folder is made again.
    QVERIFY(QFile::remove(copyPath(notes)));
    panel->orderOut();
    show();
    QCOMPARE(countAfcRequests("FILE_OPEN"), opens + 1);
    QCOMPARE(fileContents(copyPath(notes)), QByteArray("some notes"));
}

// A read that fails leaves that file out (the others still show), is logged, leaves no file
// under the copy's name, and is tried again the next time.
void tst_QuickLookCoordinator::failingReadIsLeftOutAndTriedAgain() {
    const QByteArray big(3 * 1024 * 1024, 'b');
    plug(firstUdid, {{"/DCIM/big.txt", big}, {"/DCIM/small.txt", "small"}});
    const FileItem broken = onDevice(firstUdid, "/DCIM/big.txt");
    const FileItem fine = onDevice(firstUdid, "/DCIM/small.txt");
    select({broken, fine});
    m_devices[firstUdid]->faults().readErrorAt(1024 * 1024);

    LogCapture log;
    show();
    QCOMPARE(m_coordinator->previewItems(), QList<URL>{URL::fileURL(copyPath(fine))});
    const QStringList messages = log.messages(LogCapture::category("ui"));
    QVERIFY2(messages.filter(QStringLiteral("QuickLook download failed for /DCIM/big.txt: ")).size() == 1,
             qPrintable(messages.join('\n')));
    QVERIFY(!QFileInfo::exists(copyPath(broken)));
    QCOMPARE(filesBelowPreview().size(), 1);

    m_devices[firstUdid]->faults().clear();
    QuickLookPanel::shared()->orderOut();
    show();
    QCOMPARE(m_coordinator->previewItems().size(), 2);
    QCOMPARE(fileContents(copyPath(broken)), big);
}

// Only folders: nothing is shown and the items stay; with the panel open, the next count
// empties them.
void tst_QuickLookCoordinator::foldersOnlyShowNothing() {
    plug(firstUdid, {{"/DCIM/a.txt", "a"}});
    const FileItem folder = item(URL::fromComponents("afc", firstUdid, "/DCIM/"), "DCIM", true);
    select({folder});
    m_coordinator->showPanel(QuickLookPanel::shared());
    QVERIFY(m_coordinator->panelTasks().isEmpty());
    QVERIFY(!QuickLookPanel::shared()->isPanelVisible());

    select({onDevice(firstUdid, "/DCIM/a.txt")});
    show();
    QCOMPARE(m_coordinator->previewItems().size(), 1);
    select({folder});
    QCOMPARE(m_coordinator->numberOfPreviewItems(QuickLookPanel::shared()), 0);
    QVERIFY(m_coordinator->previewItems().isEmpty());
}

void tst_QuickLookCoordinator::unsafeNamesStayInsideTheFolder_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("parent") << "..";
    QTest::newRow("slash") << "../../escaped.txt";
    QTest::newRow("empty") << "";
}

// A device's name for a file never leads the copy out of its folder: the file is left out.
void tst_QuickLookCoordinator::unsafeNamesStayInsideTheFolder() {
    QFETCH(QString, name);
    plug(firstUdid, {{"/DCIM/a.txt", "a"}});
    LogCapture log;
    select({item(URL::fromComponents("afc", firstUdid, "/DCIM/a.txt"), name)});
    show();
    QVERIFY(m_coordinator->previewItems().isEmpty());
    QVERIFY(filesBelowPreview().isEmpty());
    QCOMPARE(QDir(scratchPath()).entryList(QDir::Files).size(), 0);
    QCOMPARE(
        log.messages(LogCapture::category("ui")).filter("QuickLook download failed for /DCIM/a.txt").size(),
        1);
}

// Two requests for one location while the first copy runs: one read of the device, one copy.
void tst_QuickLookCoordinator::oneCopyPerLocationAtATime() {
    plug(firstUdid, {{"/DCIM/IMG_0002.JPG", QByteArray(2 * 1024 * 1024, 'p')}});
    const FileItem photo = onDevice(firstUdid, "/DCIM/IMG_0002.JPG");
    async::Task<std::optional<URL>> first = m_coordinator->downloadForPreview(photo);
    async::Task<std::optional<URL>> second = m_coordinator->downloadForPreview(photo);
    const std::optional<URL> a = runSync(std::move(first), 30s);
    const std::optional<URL> b = runSync(std::move(second), 30s);
    QVERIFY(a && a == b);
    QCOMPARE(countAfcRequests("FILE_OPEN"), size_t(1));
    QCOMPARE(filesBelowPreview(), QStringList{copyPath(photo)});
}

// With the panel closed a selection change costs nothing; while it is open, a selection that
// settles for 50 ms refreshes it, and a quick run of changes refreshes it once.
void tst_QuickLookCoordinator::openPanelFollowsTheSettledSelection() {
    plug(firstUdid, {{"/DCIM/1.txt", "1"}, {"/DCIM/2.txt", "2"}, {"/DCIM/3.txt", "3"}});
    select({onDevice(firstUdid, "/DCIM/1.txt")});
    m_timers->advance(100ms);
    QVERIFY(!QuickLookPanel::sharedIfExists()); // closed: no panel, nothing read
    QCOMPARE(countAfcRequests("FILE_OPEN"), size_t(0));
    show();
    m_timers->advance(50ms); // the subscription's first value
    awaitTasks();
    const auto shownName = [] {
        return QuickLookPanel::shared()->items().value(0).lastPathComponent();
    };
    QCOMPARE(shownName(), QStringLiteral("1.txt"));

    select({onDevice(firstUdid, "/DCIM/2.txt")});
    m_timers->advance(30ms);
    select({onDevice(firstUdid, "/DCIM/3.txt")});
    m_timers->advance(49ms);
    awaitTasks();
    QCOMPARE(shownName(), QStringLiteral("1.txt"));
    m_timers->advance(1ms);
    awaitTasks();
    QCOMPARE(shownName(), QStringLiteral("3.txt"));
    QCOMPARE(countAfcRequests("FILE_OPEN", "/DCIM/2.txt"), size_t(0));
}

void tst_QuickLookCoordinator::arrowKeysReachTheBrowser_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("passedOn");
    QTest::newRow("left") << int(Qt::Key_Left) << true;
    QTest::newRow("down") << int(Qt::Key_Down) << true;
    QTest::newRow("a letter") << int(Qt::Key_A) << false;
    QTest::newRow("space") << int(Qt::Key_Space) << false;
}

void tst_QuickLookCoordinator::arrowKeysReachTheBrowser() {
    QFETCH(int, key);
    QFETCH(bool, passedOn);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* browser = new KeyRecorder;
    layout->addWidget(new QLineEdit);
    layout->addWidget(browser);
    window.show();
    browser->setFocus();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QVERIFY(!m_coordinator->handleKeyEvent(nullptr, &press)); // no main window: the panel's
    m_coordinator->mainWindow = [&window] {
        return &window;
    };
    QCOMPARE(m_coordinator->handleKeyEvent(nullptr, &press), passedOn);
    QCOMPARE(browser->keys, passedOn ? QList<int>{key} : QList<int>{});
}

// The window's Quick Look command through the router: the panel opens with the selection and
// closes on the next command.
void tst_QuickLookCoordinator::windowTogglesThePanel() {
    plug(firstUdid, {{"/DCIM/a.txt", "a"}, {"/DCIM/b.txt", "b"}});
    UserDefaults::setStandardFilePathForTesting(scratchPath("settings") + "/defaults.plist");
    DeviceManager devices(std::make_shared<IMobileDeviceBridge>(std::make_shared<ProcessRunner>()));
    async::ManualClock clock;
    NotificationCenter notifications;
    auto transfers = std::make_shared<TransferManager>(m_defaults->store(), clock, notifications);
    MainWindowController controller(devices, transfers, std::make_shared<ScriptedAlertPresenter>());
    CommandRouter router;
    router.setMainWindow(controller.window(), &controller);
    controller.window()->show();
    QApplication::setActiveWindow(controller.window());
    NavigationState& navigation = controller.navigationState();
    navigation.selectedItems = QSet<FileItem>{onDevice(firstUdid, "/DCIM/a.txt")};
    QVERIFY(router.sendAction("toggleQuickLook:"));
    for (const auto& task : controller.quickLookCoordinator()->panelTasks())
        runSync(task.result(), 30s);
    QuickLookPanel* panel = QuickLookPanel::shared();
    QVERIFY(panel->isPanelVisible());
    QCOMPARE(panel->items().size(), 1);
    QApplication::setActiveWindow(controller.window());
    QVERIFY(router.sendAction("toggleQuickLook:"));
    QVERIFY(!panel->isPanelVisible());

    // Pressed again while the copy is still under way: the panel, up at once, goes again and
    // stays away when the copy ends; the copy is kept.
    navigation.selectedItems = QSet<FileItem>{onDevice(firstUdid, "/DCIM/b.txt")};
    m_devices[firstUdid]->faults().gateReads();
    QVERIFY(router.sendAction("toggleQuickLook:"));
    QTRY_VERIFY(m_devices[firstUdid]->faults().waitUntilReadHeld(0ms));
    QVERIFY(panel->isPanelVisible());
    QApplication::setActiveWindow(controller.window());
    QVERIFY(router.sendAction("toggleQuickLook:"));
    m_devices[firstUdid]->faults().releaseReads();
    for (const auto& task : controller.quickLookCoordinator()->panelTasks())
        runSync(task.result(), 30s);
    QVERIFY(!panel->isPanelVisible());
    QTRY_COMPARE(controller.quickLookCoordinator()->tempFiles().size(), 2);
}

// A video and a file of unknown contents are handed over where they are: no copy of them, the
// video shown by its thumbnail's frame, the other by its type's icon and size. The panel opens
// over the main window, and the copies that were made go when asked to at quit.
void tst_QuickLookCoordinator::filesThePanelCannotShowStayOnTheDevice() {
    // The thumbnail cache puts its own copies below the temporary folder: this test's, here.
    const QByteArray previousTemporary = qgetenv("TMPDIR");
    qputenv("TMPDIR", scratchPath().toUtf8());
    const QString clip = scratchPath() + QStringLiteral("/clip.mov");
    const QString made = makeClip(clip, QSize(320, 240), 0);
    QVERIFY2(made.isEmpty(), qPrintable(made));
    plug(firstUdid, {{"/DCIM/IMG_0003.MOV", fileContents(clip)},
                     {"/Downloads/archive.zip", QByteArray(1500, 'z')},
                     {"/DCIM/IMG_0004.JPG", "photo"}});
    const FileItem video = item(URL::fromComponents("afc", firstUdid, "/DCIM/IMG_0003.MOV"), "IMG_0003.MOV",
                                false, quint64(QFileInfo(clip).size()));
    const FileItem archive =
        item(URL::fromComponents("afc", firstUdid, "/Downloads/archive.zip"), "archive.zip", false, 1500);
    const FileItem photo = onDevice(firstUdid, "/DCIM/IMG_0004.JPG");
    QWidget mainWindow;
    mainWindow.setGeometry(120, 90, 700, 500);
    mainWindow.show();
    m_coordinator->mainWindow = [&mainWindow] { return &mainWindow; };
    select({video, archive, photo});

    QuickLookPanel* panel = QuickLookPanel::shared();
    QSignalSpy shown(panel, &QuickLookPanel::previewShown);
    show();
    QCOMPARE(m_coordinator->previewItems(), (QList<URL>{video.path(), archive.path(), URL::fileURL(copyPath(photo))}));
    QCOMPARE(filesBelowPreview(), QStringList{copyPath(photo)});
    // The panel came first with the video's icon; its frame followed.
    QTRY_COMPARE(panel->contentKind(), QuickLookPanel::ContentKind::frame);
    QVERIFY(panel->findChild<QPushButton*>(QStringLiteral("quickLookOpen"))->isEnabled());
    const qsizetype shownBefore = shown.size();
    panel->setCurrentPreviewItemIndex(1);
    QTRY_COMPARE(shown.size(), shownBefore + 1);
    QCOMPARE(panel->contentKind(), QuickLookPanel::ContentKind::other);
    QCOMPARE(panel->findChild<QLabel*>(QStringLiteral("quickLookSize"))->text(), QStringLiteral("2 KB"));
    QCOMPARE(panel->findChild<QLabel*>(QStringLiteral("quickLookIcon"))
                 ->property(QuickLookPanel::iconMimeTypeProperty)
                 .toString(),
             QStringLiteral("application/zip"));
    QVERIFY(std::abs(panel->frameGeometry().center().x() - mainWindow.frameGeometry().center().x()) <= 1);
    QVERIFY(std::abs(panel->frameGeometry().center().y() - mainWindow.frameGeometry().center().y()) <= 1);

    m_coordinator->removeTemporaryCopies();
    QVERIFY(!QFileInfo::exists(previewFolder()));
    QVERIFY(m_coordinator->tempFiles().isEmpty());
    qputenv("TMPDIR", previousTemporary);
    if (previousTemporary.isEmpty())
        qunsetenv("TMPDIR");
}

// A device PDF shows its first page from a copy in the run's temporary folder, and Open hands
// that copy to the desktop's program; a device song, which the panel shows by its icon, is
// copied when Open is pressed. The panel is up while the device still holds the copies, not
// only once they came.
void tst_QuickLookCoordinator::deviceDocumentOpensFromACopy() {
    const QString made = scratchPath() + QStringLiteral("/guide.pdf");
    {
        QPdfWriter writer(made);
        QPainter painter(&writer);
        painter.drawText(QPointF(100, 100), QStringLiteral("Guide"));
    }
    plug(firstUdid, {{"/Documents/guide.pdf", fileContents(made)}, {"/Music/song.m4a", "song"}});
    const FileItem pdf = onDevice(firstUdid, "/Documents/guide.pdf");
    const FileItem song = onDevice(firstUdid, "/Music/song.m4a");
    // Static: the opener stays set after the test.
    static QList<URL> opened;
    opened.clear();
    Workspace::setOpenerForTesting([](const URL& url) {
        opened << url;
        return true;
    });
    select({pdf, song});
    m_devices[firstUdid]->faults().gateReads();
    QuickLookPanel* panel = QuickLookPanel::shared();
    QSignalSpy shown(panel, &QuickLookPanel::previewShown);
    m_coordinator->showPanel(panel);
    QTRY_VERIFY(m_devices[firstUdid]->faults().waitUntilReadHeld(0ms));
    QVERIFY(panel->isPanelVisible());
    QCOMPARE(panel->items(), QList<URL>{song.path()});
    m_devices[firstUdid]->faults().releaseReads();
    awaitTasks();
    QCOMPARE(panel->items(), (QList<URL>{URL::fileURL(copyPath(pdf)), song.path()}));
    QTRY_VERIFY(!shown.isEmpty() && shown.last().at(0).toInt() == 0 &&
                panel->contentKind() == QuickLookPanel::ContentKind::image);

    auto* open = panel->findChild<QPushButton*>(QStringLiteral("quickLookOpen"));
    panel->setCurrentPreviewItemIndex(1);
    QVERIFY(open->isEnabled());
    open->click();
    awaitTasks();
    QCOMPARE(opened, QList<URL>{URL::fileURL(copyPath(song))});
    QCOMPARE(fileContents(copyPath(song)), QByteArray("song"));
    panel->setCurrentPreviewItemIndex(0);
    QVERIFY(open->isEnabled());
    open->click();
    awaitTasks();
    QCOMPARE(opened.last(), URL::fileURL(copyPath(pdf)));
    QCOMPARE(fileContents(copyPath(pdf)), fileContents(made));
    m_coordinator->removeTemporaryCopies();
    QVERIFY(!QFileInfo::exists(copyPath(pdf)) && !QFileInfo::exists(copyPath(song)));
}

void tst_QuickLookCoordinator::nothingToOpenWithIsSaid_data() {
    QTest::addColumn<bool>("fromDevice");
    QTest::newRow("a computer file") << false;
    QTest::newRow("a device file, from its copy") << true;
}

// Open with no program for the file says so over the panel, as the Transfer Center's Open Report
// does, instead of only logging it.
void tst_QuickLookCoordinator::nothingToOpenWithIsSaid() {
    QFETCH(bool, fromDevice);
    const QString path = scratchPath() + QStringLiteral("/budget.xlsx");
    if (fromDevice)
        plug(firstUdid, {{"/Documents/budget.xlsx", "cells"}});
    else
        QVERIFY(writeTestFile(path, "cells"));
    const FileItem sheet = fromDevice ? onDevice(firstUdid, "/Documents/budget.xlsx")
                                      : item(URL::fileURL(path), QStringLiteral("budget.xlsx"));
    static QList<URL> opened;
    opened.clear();
    Workspace::setOpenerForTesting([](const URL& url) {
        opened << url;
        return false;
    });
    auto presenter = std::make_shared<ScriptedAlertPresenter>();
    m_coordinator->alertPresenter = presenter;
    select({sheet});
    show();
    QuickLookPanel* panel = QuickLookPanel::sharedIfExists();
    auto* open = panel->findChild<QPushButton*>(QStringLiteral("quickLookOpen"));
    QVERIFY(open->isEnabled());
    open->click();
    awaitTasks();
    QCOMPARE(opened.size(), 1);
    QCOMPARE(presenter->requests.size(), 1);
    const AlertRequest& alert = presenter->requests.first();
    QCOMPARE(alert.message, QStringLiteral("The file could not be opened."));
    QCOMPARE(alert.informative,
             QStringLiteral("No application on this computer could open \u201Cbudget.xlsx\u201D."));
    QCOMPARE(alert.buttons, QStringList{QStringLiteral("OK")});
    QCOMPARE(presenter->parents.first().data(), panel);
    Workspace::setOpenerForTesting([](const URL&) { return true; });
}

// The panel opens at once and is filled again when the selection's copies are there: a PDF on
// the computer, which needs no copy, is read once, and a selection that settles again on it
// reads it no more.
void tst_QuickLookCoordinator::computerPdfIsReadOnce() {
    const QString path = scratchPath() + QStringLiteral("/guide.pdf");
    {
        QPdfWriter writer(path);
        QPainter painter(&writer);
        painter.drawText(QPointF(100, 100), QStringLiteral("Guide"));
    }
    select({item(URL::fileURL(path), QStringLiteral("guide.pdf"))});
    QuickLookPanel* panel = QuickLookPanel::shared();
    QSignalSpy shown(panel, &QuickLookPanel::previewShown);
    LogCapture log;
    show();
    QTRY_COMPARE(shown.size(), 1);
    QCOMPARE(panel->contentKind(), QuickLookPanel::ContentKind::image);
    m_coordinator->refreshPanel(panel);
    awaitTasks();
    QCOMPARE(log.messages(LogCapture::category("ui")).filter(QStringLiteral("Quick Look reads ")),
             QStringList{QStringLiteral("Quick Look reads ") + path});
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_QuickLookCoordinator)
#include "tst_QuickLookCoordinator.moc"
