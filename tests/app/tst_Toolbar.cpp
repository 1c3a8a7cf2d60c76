// The main window's toolbar at work over the emulator: its items, back and forward, the view
// modes and the search field in step with the navigation state both ways, the preview toggle,
// and Copy: a beep for nothing, a real copy into a temporary home's Downloads, and the folder
// question with Alt held.

#include "DeviceTestCase.h"
#include "EventLoop.h"
#include "ScriptedAlertPresenter.h"
#include "WidgetDeviceTestMain.h"
#include "app/MainWindowController.h"
#include "app/Toolbar.h"
#include "device/DeviceManager.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunner.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "platform/async/TaskHandle.h"
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "transfer/TransferManager.h"
#include "uikit/Beep.h"
#include "uikit/FolderChooser.h"
#include "uikit/SegmentedControl.h"

#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QSplitter>
#include <QTemporaryDir>
#include <QToolButton>

using namespace std::chrono_literals;
using async::runSync;

namespace {

const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");

// Answers with the scripted folder (nothing = the user cancelled) and records what it was asked.
class FakeFolderChooser : public FolderChooser {
public:
    std::optional<URL> answer;
    QList<Request> requests;
    QList<QWidget*> parents;
    async::Task<std::optional<URL>> choose(Request request, QWidget* parent, std::stop_token) override {
        requests.append(request);
        parents.append(parent);
        std::optional<URL> chosen = answer;
        co_return chosen;
    }
};

QByteArray photoBytes(int index) {
    QByteArray bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += QByteArray::number(index * 7919 + i);
    return bytes;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_Toolbar : public DeviceTestCase {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void itemsAndOrder();
    void wordsOfThisDesktop();
    void backAndForward_data();
    void backAndForward();
    void viewModeAndSearchBothWays();
    void previewToggle();
    void previewToggleRestoresACollapsedPane();
    void copy_data();
    void copy();

private:
    void makeController();
    // A device holding the photos, shown in the window, its root listed; the photos' items.
    QList<FileItem> showDevicePhotos(int count);

    QTemporaryDir m_home;
    async::ManualClock m_clock;
    NotificationCenter m_notifications;
    std::shared_ptr<FakeFolderChooser> m_chooser;
    std::unique_ptr<DeviceManager> m_deviceManager;
    std::shared_ptr<TransferManager> m_transferManager;
    std::unique_ptr<MainWindowController> m_controller;
    int m_tasksBefore = 0;
};

void tst_Toolbar::initTestCase() {
    // Downloads is looked up below HOME, so nothing reaches the developer's own folders. Set
    // while no other thread reads the environment.
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral(".config")).toUtf8());
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral(".local/share")).toUtf8());
    UserDefaults::setStandardFilePathForTesting(m_home.filePath(QStringLiteral("defaults.plist")));
    Beep::setSoundForTesting([] {});
}

void tst_Toolbar::init() {
    setUpTest();
    m_tasksBefore = async::spawnedTasksRunning();
    UserDefaults& defaults = PreferencesViewController::defaults();
    for (const QString& key : defaults.keys())
        defaults.remove(key);
    QDir(m_home.filePath(QStringLiteral("Downloads"))).removeRecursively();
    QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("Downloads"))));
    m_chooser = std::make_shared<FakeFolderChooser>();
    m_deviceManager = std::make_unique<DeviceManager>(
        std::make_shared<IMobileDeviceBridge>(std::make_shared<ProcessRunner>()));
    m_transferManager = std::make_shared<TransferManager>(defaults, m_clock, m_notifications);
}

void tst_Toolbar::cleanup() {
    if (m_controller) {
        for (const auto& task : m_controller->copyTasks())
            runSync(task.result(), 30s);
    }
    m_controller.reset();
    // Listings the window started end before the bridge they run on goes.
    QTRY_VERIFY_WITH_TIMEOUT(async::spawnedTasksRunning() <= m_tasksBefore, 20000);
    m_transferManager.reset();
    m_deviceManager.reset();
    tearDownTest();
}

void tst_Toolbar::makeController() {
    m_controller = std::make_unique<MainWindowController>(*m_deviceManager, m_transferManager,
                                                          std::make_shared<ScriptedAlertPresenter>());
    m_controller->setFolderChooser(m_chooser);
    m_controller->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_controller->window()));
}

QList<FileItem> tst_Toolbar::showDevicePhotos(int count) {
    fakemux::DeviceDescription description = describeDevice(udid, QStringLiteral("Studio iPhone"));
    const QString media = QString::fromStdString(description.mediaRoot.string());
    for (int i = 0; i < count; ++i) {
        QFile file(media + QStringLiteral("/IMG_%1.JPG").arg(i + 1, 4, 10, QLatin1Char('0')));
        if (!QDir().mkpath(media) || !file.open(QIODevice::WriteOnly))
            return {};
        file.write(photoBytes(i));
    }
    addDevice(description);
    makeController();
    runSync(m_deviceManager->scanForDevices(), 30s);
    NavigationState& navigation = m_controller->navigationState();
    if (!QTest::qWaitFor([&] { return navigation.currentDirectoryContents.value().size() == count; }))
        return {};
    return navigation.currentDirectoryContents.value();
}

// Left to right as shown; nobody can move the toolbar.
void tst_Toolbar::itemsAndOrder() {
    makeController();
    Toolbar* toolbar = m_controller->toolbar();
    QCOMPARE(toolbar->itemIdentifiers(), Toolbar::defaultItemIdentifiers());
    QCOMPARE(toolbar->itemIdentifiers(),
             (QStringList{"BackForward", "FlexibleSpace", "ViewMode", "SearchField", "CopyButton",
                          "PreviewToggle", "TransferCenter"}));
    QVERIFY(!toolbar->item(QStringLiteral("Unknown")) && !toolbar->isMovable());
    // Columns, the mode a window starts in.
    QCOMPARE(toolbar->viewModeControl()->selectedSegment(), 2);

    // The Transfer Center item sends its command along the application's chain.
    QStringList sent;
    m_controller->sendAction = [&sent](const QString& selector, QObject*) {
        sent << selector;
        return true;
    };
    toolbar->transferCenterButton()->click();
    QCOMPARE(sent, QStringList{QStringLiteral("showTransferCenter:")});
}

// The copy goes to this computer, and the toolbar says so in the words of this desktop.
void tst_Toolbar::wordsOfThisDesktop() {
    makeController();
    QToolButton* copy = m_controller->toolbar()->copyButton();
    QCOMPARE(copy->accessibleName(), QStringLiteral("Copy to Computer"));
    QCOMPARE(copy->toolTip(), QStringLiteral("Copy selected files to this computer"));
    for (QWidget* item : m_controller->toolbar()->findChildren<QWidget*>()) {
        for (const QString& text : {item->accessibleName(), item->toolTip()})
            QVERIFY2(!text.contains(QStringLiteral("Mac")), qPrintable(text));
    }
    // Nor in the labels shown under the items, a button's own text or the search field's hint.
    for (QWidget* item : m_controller->toolbar()->findChildren<QWidget*>()) {
        QStringList shown{item->property("orvantaItemLabel").toString()};
        if (auto* button = qobject_cast<QToolButton*>(item))
            shown << button->text();
        if (auto* field = qobject_cast<QLineEdit*>(item))
            shown << field->placeholderText();
        for (const QString& text : std::as_const(shown))
            QVERIFY2(!text.contains(QStringLiteral("Mac")), qPrintable(text));
    }
}

void tst_Toolbar::backAndForward_data() {
    QTest::addColumn<int>("visited"); // folders a, b, c... navigated to first
    QTest::addColumn<QString>("clicks");
    QTest::addColumn<QString>("expected"); // the folder shown at the end; "" for none
    QTest::newRow("no history") << 0 << "BF"
                                << "";
    QTest::newRow("one folder: no way back") << 1 << "B"
                                             << "a";
    QTest::newRow("back twice and forward") << 3 << "BBF"
                                            << "b";
    QTest::newRow("forward past the end stays") << 2 << "BFF"
                                                << "b";
}

// Each is enabled exactly while its history has a folder to go to (a click on a disabled one does
// nothing, as the navigation state would with nothing to go to), so the user sees which one works.
void tst_Toolbar::backAndForward() {
    QFETCH(int, visited);
    QFETCH(QString, clicks);
    makeController();
    NavigationState& navigation = m_controller->navigationState();
    Toolbar* toolbar = m_controller->toolbar();
    for (int i = 0; i < visited; ++i)
        navigation.navigate(URL::fileURL(scratchPath(QString(QChar(u'a' + i))), true));
    for (const QChar click : clicks) {
        QTRY_COMPARE(toolbar->backButton()->isEnabled(), !navigation.backStack().isEmpty());
        QTRY_COMPARE(toolbar->forwardButton()->isEnabled(), !navigation.forwardStack().isEmpty());
        (click == u'B' ? toolbar->backButton() : toolbar->forwardButton())->click();
    }
    QTRY_COMPARE(toolbar->backButton()->isEnabled(), !navigation.backStack().isEmpty());
    QTRY_COMPARE(toolbar->forwardButton()->isEnabled(), !navigation.forwardStack().isEmpty());
    QTEST(navigation.currentPath.value() ? navigation.currentPath.value()->lastPathComponent() : QString(),
          "expected");
}

// The user's clicks and edits write the navigation state; what it publishes moves the controls
// and writes nothing back.
void tst_Toolbar::viewModeAndSearchBothWays() {
    makeController();
    NavigationState& navigation = m_controller->navigationState();
    SegmentedControl* modes = m_controller->toolbar()->viewModeControl();
    QLineEdit* field = m_controller->toolbar()->searchField();
    QStringList written;
    const Subscription modeWrites = navigation.viewMode.subscribe(
        [&written](BrowserViewMode mode) { written << QStringLiteral("mode %1").arg(int(mode)); });
    const Subscription queryWrites =
        navigation.searchQuery.subscribe([&written](const QString& query) { written << "query " + query; });
    written.clear();

    QTest::mouseClick(modes->button(1), Qt::LeftButton);
    m_controller->viewModeChanged(SegmentedControl::noSegment);
    m_controller->viewModeChanged(3);
    QTest::keyClicks(field, QStringLiteral("IM"));
    QCOMPARE(written, (QStringList{"mode 1", "query I", "query IM"}));
    // Typing shows the field's clear button (it fades in).
    const QList<QToolButton*> clearButtons = field->findChildren<QToolButton*>();
    QCOMPARE(clearButtons.size(), 1);
    QTRY_COMPARE(clearButtons.first()->property("opacity").toDouble(), 1.0);

    written.clear();
    m_controller->perform(QStringLiteral("showIconsView:"), nullptr);
    navigation.navigate(URL::fileURL(scratchPath(QStringLiteral("elsewhere")), true));
    QTRY_COMPARE(modes->selectedSegment(), 0);
    QTRY_COMPARE(field->text(), QString());
    // The clear button goes with the text, as after the user's own clearing.
    QTRY_COMPARE(clearButtons.first()->property("opacity").toDouble(), 0.0);
    navigation.searchQuery = QStringLiteral("from the code");
    drainPostedEvents();
    QCOMPARE(field->text(), QString());
    QCOMPARE(written, (QStringList{"mode 0", "query ", "query from the code"}));
}

// The pane folds and comes back; once the split view is gone the toggle has nothing to act on.
void tst_Toolbar::previewToggle() {
    makeController();
    QToolButton* toggle = m_controller->toolbar()->previewToggle();
    toggle->click();
    m_controller->showBrowser();
    QPointer<QWidget> preview = m_controller->previewPaneView();
    QTRY_VERIFY(preview->isVisible());
    toggle->click();
    QVERIFY(preview->isHidden() && m_controller->browserContainerView()->isVisible());
    toggle->click();
    QVERIFY(preview->isVisible());
    // The old pane lingers until its deferred deletion; the toggle leaves it alone.
    m_controller->showEmptyState();
    toggle->click();
    QVERIFY(!preview || !preview->isHidden());
}

// The divider dragged to the window's edge leaves the pane shown at no width: the toggle counts
// that as folded and brings it back at its first width, taken from the browser.
void tst_Toolbar::previewToggleRestoresACollapsedPane() {
    makeController();
    m_controller->showBrowser();
    QSplitter* split = m_controller->splitView();
    QWidget* preview = m_controller->previewPaneView();
    QTRY_VERIFY(preview->isVisible());
    QList<int> sizes = split->sizes();
    split->setSizes({sizes[0], sizes[1] + sizes[2], 0});
    QCOMPARE(split->sizes()[2], 0);

    QToolButton* toggle = m_controller->toolbar()->previewToggle();
    toggle->click();
    QVERIFY(preview->isVisible());
    QCOMPARE(split->sizes()[2], MainWindowController::previewPaneWidth);
    QVERIFY(split->sizes()[1] >= m_controller->browserContainerView()->minimumWidth());
    // Folded and shown again by the toggle alone, it keeps its width.
    toggle->click();
    QVERIFY(preview->isHidden());
    toggle->click();
    QCOMPARE(split->sizes()[2], MainWindowController::previewPaneWidth);
}

void tst_Toolbar::copy_data() {
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("alt");
    QTest::addColumn<bool>("chosen");
    QTest::addColumn<QString>("message"); // the chooser's; null: not asked
    QTest::addColumn<QString>("target");  // where the copies land: "Downloads", "chosen" or ""
    QTest::newRow("nothing selected beeps") << 0 << false << false << QString() << "";
    QTest::newRow("nothing selected, Alt: beeps") << 0 << true << true << QString() << "";
    // No "defaultDestination" and no modifier: HOME's Downloads, without a question.
    QTest::newRow("one photo into Downloads") << 1 << false << false << QString() << "Downloads";
    QTest::newRow("Alt, one photo") << 1 << true << true << "Choose a destination for 1 item"
                                    << "chosen";
    QTest::newRow("Alt, three photos") << 3 << true << true << "Choose a destination for 3 items"
                                       << "chosen";
    QTest::newRow("Alt, cancelled") << 2 << true << false << "Choose a destination for 2 items"
                                    << "";
}

// Copy of the selection, byte for byte, only where the user meant it to go.
void tst_Toolbar::copy() {
    QFETCH(int, selected);
    QFETCH(bool, alt);
    QFETCH(bool, chosen);
    QFETCH(QString, message);
    QFETCH(QString, target);
    const QList<FileItem> photos = showDevicePhotos(3);
    QCOMPARE(photos.size(), 3);
    const QString chosenFolder = scratchPath(QStringLiteral("chosen"));
    if (chosen)
        m_chooser->answer = URL::fileURL(chosenFolder, true);
    m_controller->navigationState().selectedItems = QSet<FileItem>(photos.begin(), photos.begin() + selected);
    const int beeps = Beep::count();
    QTest::mouseClick(m_controller->toolbar()->copyButton(), Qt::LeftButton,
                      alt ? Qt::AltModifier : Qt::NoModifier);
    for (const auto& task : m_controller->copyTasks())
        runSync(task.result(), 30s);
    QCOMPARE(Beep::count(), beeps + (selected == 0 ? 1 : 0));
    QStringList asked;
    for (const FolderChooser::Request& request : m_chooser->requests)
        asked << request.prompt + u'|' + request.message;
    QCOMPARE(asked, message.isNull() ? QStringList{} : QStringList{"Copy Here|" + message});
    if (!m_chooser->parents.isEmpty())
        QCOMPARE(m_chooser->parents.first(), static_cast<QWidget*>(m_controller->window()));
    if (target.isEmpty()) {
        drainPostedEvents();
        QVERIFY(m_transferManager->activeTransfers.value().isEmpty());
        QVERIFY(m_transferManager->completedTransfers.value().isEmpty());
        return;
    }
    QTRY_COMPARE(m_transferManager->completedTransfers.value().size(), 1);
    QCOMPARE(m_transferManager->completedTransfers.value().first().state, TransferState::completed);
    const QString folder = target == u"chosen" ? chosenFolder : m_home.filePath(QStringLiteral("Downloads"));
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), selected);
    for (int i = 0; i < selected; ++i)
        QCOMPARE(readAll(folder + u'/' + photos[i].name()),
                 photoBytes(photos[i].name().mid(4, 4).toInt() - 1));
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_Toolbar)
#include "tst_Toolbar.moc"
