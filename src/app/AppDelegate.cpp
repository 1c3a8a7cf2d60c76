#include "app/AppDelegate.h"

#include "app/AboutWindowController.h"
#include "app/ApplicationIcon.h"
#include "app/FirstRunViewController.h"
#include "app/MainMenu.h"
#include "app/MainWindowController.h"
#include "app/PreferencesWindowController.h"
#include "app/TransferCenterViewController.h"
#include "app/TransferCenterWindowController.h"
#include "browser/DragAndDropHandler.h"
#include "browser/DragOutProduction.h"
#include "device/AFCBridge.h"
#include "device/DeviceManager.h"
#include "device/IMobileDeviceBridge.h"
#include "device/LeftoverJournal.h"
#include "device/ProcessRunner.h"
#include "platform/FileTreeRemoval.h"
#include "platform/Logger.h"
#include "platform/TemporaryDirectory.h"
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "services/ThumbnailCache.h"
#include "sidebar/QuickLookCoordinator.h"
#include "transfer/LocalLeftovers.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"
#include "uikit/QuickLookPanel.h"

#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QThreadPool>
#include <QUuid>
#include <QVBoxLayout>

namespace {

// The welcome as a window-modal sheet: it ends only by its button, so Escape does nothing and it
// has no close button.
class FirstRunSheet : public QDialog {
public:
    explicit FirstRunSheet(QWidget* parent)
        : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
        setWindowTitle(QStringLiteral("Welcome to Orvanta"));
        setWindowModality(Qt::WindowModal);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        controller = new FirstRunViewController;
        layout->addWidget(controller);
        setFixedSize(controller->size());
    }

    void reject() override {}

    FirstRunViewController* controller = nullptr;
};

// What runs that never quit (a kill, a crash) left in the temporary folder below root. Each run
// keeps its copies in a folder of its own, locked while it runs. Versions before that made them
// straight in folders that every run shares, which tell nobody whose they are: a run of such a
// version still going may yet hand them to a receiver, so they go only once a day old.
void removeTemporaryCopiesOfEndedRuns(const QString& root, const QDateTime& now) {
    if (root.isEmpty())
        return;
    const int runs = removeFoldersOfEndedRuns(root);
    const QDir folder(root);
    const QString staging = folder.filePath(QString(DragAndDropHandler::stagingFolderName));
    int older = DragOutProduction::removeStaleFolders(staging, now);
    const QStringList shared{QString(QuickLookCoordinator::previewFolderName),
                             QString(ThumbnailCache::copiesFolderName)};
    const QDateTime dayBefore = now.addSecs(-24 * 60 * 60);
    for (const QString& name : shared)
        older += removeEntriesChangedBefore(folder.filePath(name), dayBefore);
    // A device-to-device copy's own folder, named by a UUID.
    older += removeEntriesChangedBefore(root, dayBefore, [](const QString& name) {
        return name.size() == 36 && !QUuid::fromString(name).isNull();
    });
    for (const QString& name : shared + QStringList{staging})
        folder.rmdir(name); // only when nothing is left in it
    if (runs + older > 0)
        Logger::ui().info("Removed the temporary copies of %d ended runs and %d older items", runs, older);
}

} // namespace

AppDelegate::AppDelegate() : AppDelegate(defaultServices()) {}

AppDelegate::AppDelegate(Services services)
    : m_deviceManager(std::move(services.deviceManager)),
      m_transferManager(std::move(services.transferManager)),
      m_alertPresenter(std::move(services.alertPresenter)) {
    m_router.setApplicationTarget(this);
}

AppDelegate::Services AppDelegate::defaultServices() {
    // The helpers an installation puts beside the program; a developer's build finds the tools
    // on the PATH.
    const QString helpers =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../libexec/orvanta/helpers/");
    auto runner = std::make_shared<ProcessRunner>(URL::fileURL(QDir::cleanPath(helpers), true));
    Services services;
    services.deviceManager = std::make_unique<DeviceManager>(std::make_shared<IMobileDeviceBridge>(runner));
    services.transferManager = std::make_shared<TransferManager>();
    services.alertPresenter = std::make_shared<DialogAlertPresenter>();
    return services;
}

AppDelegate::~AppDelegate() {
    // The window and its provider first, then the transfers that use the provider, then the
    // device manager whose bridge they all reach: each joins its worker threads as it goes.
    delete m_firstRunSheet.data();
    if (m_menuBar && !m_menuBar->parent())
        delete m_menuBar.data();
    m_router.setMainWindow(nullptr, nullptr);
    m_mainWindowController.reset();
    // The preview panel serves the whole process; it goes with the window that fed it.
    QuickLookPanel::destroyShared();
    // The Transfer Center shares the transfer manager: it has to let go before the manager goes.
    m_transferCenterWindowController.reset();
    m_transferManager.reset();
    m_deviceManager.reset();
}

void AppDelegate::setMainMenu(QMenuBar* menuBar) {
    m_menuBar = menuBar;
}

void AppDelegate::applicationDidFinishLaunching() {
    Logger::ui().info("Orvanta launched");
    // Before the first window: each takes the application's icon, and the desktop matches the
    // windows to the installed desktop entry by its name.
    QApplication::setWindowIcon(ApplicationIcon::icon());
    QGuiApplication::setDesktopFileName(QLatin1String(ApplicationIcon::desktopName));
    // Copies that runs which never quit made for drags, previews and thumbnails. Removing them
    // can take a while (whole videos), so it happens off the main thread.
    QThreadPool::globalInstance()->start([root = privateTemporaryDirectory()] {
        removeTemporaryCopiesOfEndedRuns(root, QDateTime::currentDateTime());
    });
    // Copies cut off by a crash or a power cut left hidden items beside their targets: old items
    // set aside go back where their replacement never finished, half-made copies go.
    QThreadPool::globalInstance()->start(
        [journal = LeftoverJournal::shared()] { LocalLeftovers::recover(*journal); });
    m_mainWindowController =
        std::make_unique<MainWindowController>(*m_deviceManager, m_transferManager, m_alertPresenter);
    QMainWindow* window = m_mainWindowController->window();
    m_router.setMainWindow(window, m_mainWindowController.get());
    MainMenu::addWindowKeys(m_router, window);
    // The toolbar's Transfer Center item travels the same chain as the menu's.
    m_mainWindowController->sendAction = [this](const QString& selector, QObject* sender) {
        return m_router.sendAction(selector, sender);
    };
    // The menu's enabled states follow the selection, the clipboard and the history as they change.
    connect(m_mainWindowController.get(), &MainWindowController::commandStateChanged, &m_router,
            &CommandRouter::revalidate);
    if (m_menuBar)
        window->setMenuBar(m_menuBar);
    window->installEventFilter(this);
    window->show();
    window->activateWindow();

    if (!PreferencesViewController::hasCompletedFirstRun()) {
        auto* sheet = new FirstRunSheet(window);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<AppDelegate> self(this);
        sheet->controller->onDismiss = [self] {
            if (self)
                self->endFirstRunSheet();
        };
        m_firstRunSheet = sheet;
        sheet->open();
    }
    m_deviceManager->startMonitoring();
}

void AppDelegate::endFirstRunSheet() {
    if (m_mainWindowController && m_firstRunSheet)
        m_firstRunSheet->done(QDialog::Accepted);
}

void AppDelegate::applicationWillTerminate() {
    // A cancelled copy removes its partial file after the cancel returns; the loop has to run
    // until that is done, or a half-written photo that looks whole would stay behind.
    m_transferManager->cancelAllTransfers();
    const auto runUntilTransfersEnd = [this](std::chrono::milliseconds limit) {
        const QDeadlineTimer deadline(limit);
        while (m_transferManager->runningTransferTasks() > 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    };
    runUntilTransfersEnd(transferCleanupLimit);
    // A copy still running waits on a device that has stopped answering, and would hold the quit
    // for as long as the library waits (without end for a write): its connection is cut, and it
    // cleans up as after an unplug.
    if (m_transferManager->runningTransferTasks() > 0) {
        m_deviceManager->afcBridge()->interrupt();
        runUntilTransfersEnd(transferCleanupLimit);
    }
    // The monitoring task ends at its next wait, which the loop has to deliver; a task left
    // suspended would outlive the manager it belongs to.
    const async::TaskHandle<void> monitoring = m_deviceManager->monitoringTask();
    m_deviceManager->stopMonitoring();
    const QDeadlineTimer monitoringDeadline(monitoringStopLimit);
    while (!monitoring.isFinished() && !monitoringDeadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    // Copies of device files made for previews and thumbnails serve this run only; left behind
    // they add up to gigabytes of videos in the temporary folder.
    if (m_mainWindowController)
        m_mainWindowController->quickLookCoordinator()->removeTemporaryCopies();
    ThumbnailCache::shared().removeTemporaryCopies();
    // The files this run's drags handed to other programs: a receiver copies them at the drop,
    // and a clean quit is the last moment anyone knows they are there.
    DragOutProduction::removeFoldersOfThisRun();
    Logger::ui().info("Orvanta terminating");
}

bool AppDelegate::validate(const QString& selector) {
    if (selector == u"toggleQuickLook:")
        return m_mainWindowController && m_mainWindowController->validate(selector);
    if (selector == u"showTransferCenter:")
        return m_transferManager != nullptr;
    if (selector == u"terminate:" || selector == u"showAbout:" || selector == u"showPreferences:")
        return true;
    if (selector == u"performClose:" || selector == u"miniaturize:" || selector == u"zoom:" ||
        selector == u"toggleFullScreen:")
        return QApplication::activeWindow() != nullptr;
    return false;
}

void AppDelegate::perform(const QString& selector, QObject* sender) {
    if (!validate(selector))
        return;
    if (selector == u"toggleQuickLook:") {
        m_mainWindowController->perform(selector, sender);
        return;
    }
    if (selector == u"showTransferCenter:") {
        showTransferCenter();
        return;
    }
    if (selector == u"showAbout:") {
        showAbout();
        return;
    }
    if (selector == u"showPreferences:") {
        showPreferences();
        return;
    }
    if (selector == u"terminate:") {
        terminate();
        return;
    }
    QWidget* window = QApplication::activeWindow();
    if (selector == u"performClose:")
        window->close();
    else if (selector == u"miniaturize:")
        window->showMinimized();
    else if (selector == u"zoom:")
        window->isMaximized() ? window->showNormal() : window->showMaximized();
    else if (selector == u"toggleFullScreen:")
        window->isFullScreen() ? window->showNormal() : window->showFullScreen();
}

void AppDelegate::terminate() {
    if (m_mainWindowController)
        m_mainWindowController->saveFrame();
    // The other windows go with the main one, not after the transfers have cleaned up.
    for (QWidget* window :
         {m_preferencesWindowController ? m_preferencesWindowController->window() : nullptr,
          m_aboutWindowController ? m_aboutWindowController->window() : nullptr,
          m_transferCenterWindowController ? m_transferCenterWindowController->window() : nullptr,
          static_cast<QWidget*>(QuickLookPanel::sharedIfExists())}) {
        if (window)
            window->hide();
    }
    // exit(), not quit(): quit() first asks every window to close, and the welcome sheet
    // refuses that.
    if (exitApplication)
        exitApplication(0);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && m_mainWindowController &&
        watched == m_mainWindowController->window())
        terminate();
    return QObject::eventFilter(watched, event);
}

void AppDelegate::showPreferences() {
    if (!m_preferencesWindowController)
        m_preferencesWindowController = std::make_unique<PreferencesWindowController>();
    presentWindow(m_preferencesWindowController->window());
}

void AppDelegate::showAbout() {
    if (!m_aboutWindowController) {
        m_aboutWindowController = std::make_unique<AboutWindowController>();
        m_aboutWindowController->alertPresenter = m_alertPresenter;
    }
    presentWindow(m_aboutWindowController->window());
}

void AppDelegate::showTransferCenter() {
    if (!m_transferCenterWindowController) {
        m_transferCenterWindowController =
            std::make_unique<TransferCenterWindowController>(m_transferManager);
        TransferCenterViewController* center = m_transferCenterWindowController->viewController();
        center->setAlertPresenter(m_alertPresenter);
        center->followDevices(m_deviceManager->connectedDevices);
        center->showInMainWindow = [this](const URL& url) {
            showInMainWindow(url);
        };
    }
    presentWindow(m_transferCenterWindowController->window());
}

void AppDelegate::showInMainWindow(const URL& url) {
    if (!m_mainWindowController)
        return;
    m_mainWindowController->navigationState().navigate(url);
    QWidget* window = m_mainWindowController->window();
    window->show();
    window->raise();
    window->activateWindow();
}

void AppDelegate::presentWindow(QWidget* window) {
    // The commands that act on whichever window is active must reach it from this one too.
    if (m_menuBar && window->actions().isEmpty()) {
        for (const QAction* menu : m_menuBar->actions()) {
            if (!menu->menu())
                continue;
            for (QAction* action : menu->menu()->actions()) {
                if (action->shortcutContext() == Qt::ApplicationShortcut && !action->shortcuts().isEmpty())
                    window->addAction(action);
            }
        }
    }
    window->show();
    window->raise();
    window->activateWindow();
}
