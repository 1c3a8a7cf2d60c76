#include "app/MainWindowController.h"

#include "app/AlertConflictPrompter.h"
#include "app/MainWindowKeyViews.h"
#include "app/PathBarView.h"
#include "app/StatusBarView.h"
#include "app/Toolbar.h"
#include "app/TransferProgressWindowController.h"
#include "browser/BrowserContainerController.h"
#include "device/DeviceManager.h"
#include "models/TransferError.h"
#include "platform/Logger.h"
#include "platform/ObservableOperators.h"
#include "platform/UiTimerSource.h"
#include "platform/UserDefaults.h"
#include "services/FavoritesManager.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "sidebar/PreviewPaneViewController.h"
#include "sidebar/QuickLookCoordinator.h"
#include "sidebar/SidebarViewController.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"
#include "uikit/Beep.h"
#include "uikit/Colours.h"
#include "uikit/FolderChooser.h"
#include "uikit/Fonts.h"
#include "uikit/Symbols.h"

#include <algorithm>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QScreen>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString noDeviceSubtitle = QStringLiteral("Connect an iPhone or iPad via USB to browse files");
const QString missingHelpersSubtitle =
    QStringLiteral("Orvanta helpers are missing — please reinstall the app");

QLabel* makeLabel(const QString& text, int pixelSize, Fonts::Weight weight, Colours::Label colour) {
    auto* label = new QLabel(text);
    label->setFont(Fonts::system(pixelSize, weight));
    label->setAlignment(Qt::AlignHCenter);
    Colours::setLabelColour(label, colour);
    return label;
}

} // namespace

MainWindowController::MainWindowController(DeviceManager& deviceManager,
                                           std::shared_ptr<TransferManager> transferManager,
                                           std::shared_ptr<AlertPresenter> alertPresenter,
                                           std::shared_ptr<FileSystemProvider> fileSystemProvider)
    : m_deviceManager(deviceManager), m_transferManagerOwner(std::move(transferManager)),
      m_transferManager(*m_transferManagerOwner), m_alertPresenter(std::move(alertPresenter)) {
    m_navigationState = std::make_unique<NavigationState>(PreferencesViewController::defaults());
    m_favoritesManager = std::make_unique<FavoritesManager>(QString(favoritesDefaultsKey),
                                                            PreferencesViewController::defaults());
    m_favoritesManager->load();
    m_fileSystemProvider = fileSystemProvider
                               ? std::move(fileSystemProvider)
                               : std::make_shared<FileSystemProvider>(deviceManager.afcBridge());
    m_clipboardManager = std::make_unique<ClipboardManager>(m_transferManagerOwner, m_fileSystemProvider);
    setupWindow();
    // Made once: switching between the empty state and the browser leaves it in place.
    m_progressWindowController = std::make_unique<TransferProgressWindowController>(
        m_transferManager, m_window.get(), UiTimerSource::system());
    m_progressWindowController->bind();
    m_transferManager.setAFCBridge(m_deviceManager.afcBridge());
    m_transferManager.setFileSystemProvider(m_fileSystemProvider);
    m_transferManager.setConflictPrompter(
        std::make_shared<AlertConflictPrompter>(m_alertPresenter, m_window.get()));
    m_transferManager.setBeep([] { Beep::beep(); });
    m_folderChooser = std::make_shared<DialogFolderChooser>();
    setupToolbar();
    showEmptyState();
    setupBindings();
}

MainWindowController::~MainWindowController() {
    m_cancellables.clear();
    // The browsers hold the clipboard: they go before it.
    delete m_browserContainer.data();
    m_clipboardManager.reset();
    for (const auto& task : std::as_const(m_ingestTasks))
        task.cancel();
    for (const auto& task : std::as_const(m_alertTasks))
        task.cancel();
    for (const auto& task : std::as_const(m_copyTasks))
        task.cancel();
    if (m_window)
        m_window->removeEventFilter(this);
}

QMainWindow* MainWindowController::window() const {
    return m_window.get();
}

void MainWindowController::setupWindow() {
    m_window = makeMainWindow(*this);
    m_window->setObjectName(QStringLiteral("mainWindow"));
    m_window->setWindowTitle(QStringLiteral("Orvanta"));
    m_window->resize(1100, 700);
    m_window->setMinimumSize(800, 500);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = m_window->geometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
    // A frame stored by an earlier run replaces the centred one.
    if (const auto stored = PreferencesViewController::defaults().dataForKey(QString(frameDefaultsKey)))
        m_window->restoreGeometry(*stored);

    m_frameSaveTimer = new QTimer(this);
    m_frameSaveTimer->setSingleShot(true);
    m_frameSaveTimer->setInterval(frameSaveDelay);
    connect(m_frameSaveTimer, &QTimer::timeout, this, &MainWindowController::saveFrame);
    m_window->installEventFilter(this);
}

void MainWindowController::saveFrame() {
    if (m_window)
        PreferencesViewController::defaults().set(QString(frameDefaultsKey), m_window->saveGeometry());
}

bool MainWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window.get()) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
            if (m_window->isVisible())
                m_frameSaveTimer->start();
            break;
        case QEvent::Close:
            m_frameSaveTimer->stop();
            saveFrame();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

QString MainWindowController::subtitleText() const {
    return m_deviceManager.dependenciesMissing.value() ? missingHelpersSubtitle : noDeviceSubtitle;
}

void MainWindowController::showEmptyState() {
    m_isShowingBrowser = false;
    // Qt deletes the old central widget, and with it the split view and the bars inside it; no
    // pointer to them may outlive it.
    m_splitView = nullptr;
    m_sidebarView = nullptr;
    m_browserContainerView = nullptr;
    m_browserContainer = nullptr;
    m_pathBarView = nullptr;
    m_statusBarView = nullptr;

    auto* container = new QWidget;
    container->setObjectName(QStringLiteral("emptyState"));
    auto* symbol = new QLabel;
    symbol->setObjectName(QStringLiteral("emptyStateSymbol"));
    symbol->setProperty(Symbols::symbolNameProperty, QStringLiteral("iphone.gen3"));
    symbol->setAccessibleName(QStringLiteral("iPhone"));
    symbol->setPixmap(Symbols::icon(QStringLiteral("iphone.gen3")).pixmap(48, 48));
    symbol->setAlignment(Qt::AlignHCenter);
    auto* title = makeLabel(QStringLiteral("No iOS Device Connected"), 20, Fonts::Weight::medium,
                            Colours::Label::secondary);
    title->setObjectName(QStringLiteral("emptyStateTitle"));
    auto* subtitle = makeLabel(subtitleText(), 13, Fonts::Weight::regular, Colours::Label::tertiary);
    subtitle->setObjectName(QStringLiteral("emptyStateSubtitle"));

    auto* stack = new QVBoxLayout;
    stack->setSpacing(12);
    stack->addWidget(symbol, 0, Qt::AlignHCenter);
    stack->addWidget(title, 0, Qt::AlignHCenter);
    stack->addWidget(subtitle, 0, Qt::AlignHCenter);
    auto* layout = new QVBoxLayout(container);
    layout->addStretch();
    layout->addLayout(stack);
    layout->addStretch();

    m_window->setCentralWidget(container);
    m_emptyStateSubtitleLabel = subtitle;
    updateTitle();
}

void MainWindowController::showBrowser() {
    if (m_isShowingBrowser)
        return;
    m_isShowingBrowser = true;

    auto* container = new QWidget;
    container->setObjectName(QStringLiteral("browserState"));
    auto* split = new QSplitter(Qt::Horizontal);
    split->setObjectName(QStringLiteral("splitView"));
    split->setChildrenCollapsible(false);

    auto* sidebar = new SidebarViewController(m_deviceManager, *m_navigationState, *m_favoritesManager,
                                              *m_fileSystemProvider, UiTimerSource::system());
    sidebar->setObjectName(QStringLiteral("sidebarView"));
    sidebar->setMinimumWidth(180);
    sidebar->setMaximumWidth(350);
    auto* browser =
        new BrowserContainerController(m_fileSystemProvider, *m_navigationState, m_transferManagerOwner,
                                       m_favoritesManager.get(), m_clipboardManager.get());
    browser->setObjectName(QStringLiteral("browserContainerView"));
    browser->setAlertPresenter(m_alertPresenter);
    browser->onQuickLook = [this] {
        perform(QStringLiteral("toggleQuickLook:"), nullptr);
    };
    browser->setMinimumWidth(400);
    auto* preview = new PreviewPaneViewController(*m_navigationState, m_deviceManager.afcBridge(),
                                                  UiTimerSource::system());
    preview->setObjectName(QStringLiteral("previewPaneView"));
    preview->setMinimumWidth(160);
    preview->setMaximumWidth(300);
    split->addWidget(sidebar);
    split->addWidget(browser);
    split->addWidget(preview);
    split->setCollapsible(0, true);
    split->setCollapsible(1, false);
    split->setCollapsible(2, true);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setStretchFactor(2, 0);
    // A pane that does not stretch would start at its minimum; the preview's facts need more.
    constexpr int sideWidth = previewPaneWidth;
    split->setSizes({sideWidth, std::max(400, m_window->width() - 2 * sideWidth), sideWidth});

    auto* pathBar = new PathBarView;
    pathBar->setObjectName(QStringLiteral("pathBarView"));
    QPointer<MainWindowController> self(this);
    pathBar->onNavigate = [self](const URL& url) {
        // Also the folder already shown: it goes onto the back history like any other.
        if (self)
            self->m_navigationState->navigate(url);
    };
    auto* statusBar = new StatusBarView;
    statusBar->setObjectName(QStringLiteral("statusBarView"));
    auto* layout = new QVBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(split, 1);
    layout->addWidget(pathBar);
    layout->addWidget(statusBar);

    // A window activated in the empty state gives the keyboard to its first toolbar button, where
    // typed letters go nowhere; the browser takes it as its columns come, unless the user is
    // typing into the search field.
    if (QWidget* focus = m_window->focusWidget(); focus && !qobject_cast<QLineEdit*>(focus))
        focus->clearFocus();
    m_window->setCentralWidget(container);
    m_splitView = split;
    m_sidebarView = sidebar;
    m_browserContainerView = browser;
    m_browserContainer = browser;
    m_previewPaneView = preview;
    m_pathBarView = pathBar;
    m_statusBarView = statusBar;
    m_emptyStateSubtitleLabel = nullptr;
    // New bars start from what is shown now, not from the next change.
    updateTitle();
    updateStatusBar();
    Logger::ui().info("Browser UI initialized");
}

void MainWindowController::setupBindings() {
    m_cancellables.push_back(m_deviceManager.connectedDevices.subscribe(
        [this](const QList<iOSDevice>& devices) { handleDevicesChanged(devices); }, Delivery::Queued));
    // The title follows the columns and the devices: either one changing recomputes it.
    m_cancellables.push_back(m_navigationState->columnPaths.subscribe(
        [this](const QList<URL>&) { updateTitle(); }, Delivery::Queued));
    m_cancellables.push_back(m_deviceManager.connectedDevices.subscribe(
        [this](const QList<iOSDevice>&) { updateTitle(); }, Delivery::Queued));
    // The histories change only with the folder shown: Back and Forward follow it.
    m_cancellables.push_back(m_navigationState->currentPath.subscribe(
        [this](const std::optional<URL>&) {
            updateCurrentDevice();
            if (m_toolbar)
                m_toolbar->setHistory(!m_navigationState->backStack().isEmpty(),
                                      !m_navigationState->forwardStack().isEmpty());
        },
        Delivery::Queued));
    // The status bar reads both lists, published apart: either one changing shows both.
    m_cancellables.push_back(
        combineLatest(m_navigationState->selectedItems, m_navigationState->currentDirectoryContents)
            .subscribe([this](const auto&) { updateStatusBar(); }, Delivery::Queued));
    // Navigation empties the query; the field follows. Emptying it reports nothing back.
    m_cancellables.push_back(m_navigationState->searchQuery.subscribe(
        [this](const QString& query) {
            if (query.isEmpty() && m_toolbar)
                m_toolbar->clearSearchField();
        },
        Delivery::Queued));
    m_cancellables.push_back(m_navigationState->viewMode.subscribe(
        [this](BrowserViewMode mode) {
            if (m_toolbar)
                m_toolbar->selectViewMode(int(mode));
        },
        Delivery::Queued));
    m_cancellables.push_back(m_deviceManager.connectedDevices.subscribe(
        [this](const QList<iOSDevice>&) { updateCurrentDevice(); }, Delivery::Queued));
    m_cancellables.push_back(m_deviceManager.dependenciesMissing.subscribe(
        [this](bool) { updateEmptyStateSubtitle(); }, Delivery::Queued));
    // A device out and back in between two scans keeps its place in the list: its listings from
    // before are asked for again all the same.
    m_cancellables.push_back(m_deviceManager.sessionsReplaced.subscribe(
        [this](quint64 count) {
            if (count == m_sessionsReplacedSeen)
                return;
            m_sessionsReplacedSeen = count;
            m_fileSystemProvider->invalidateCache();
            if (m_browserContainer)
                m_browserContainer->listAgain();
        },
        Delivery::Queued));
    // The menu's enabled states follow what the commands depend on.
    const auto commandStateChanged = [this] {
        emit this->commandStateChanged();
    };
    m_cancellables.push_back(m_navigationState->selectedItems.subscribe(
        [commandStateChanged](const QSet<FileItem>&) { commandStateChanged(); }, Delivery::Queued));
    m_cancellables.push_back(m_navigationState->currentDirectoryContents.subscribe(
        [commandStateChanged](const QList<FileItem>&) { commandStateChanged(); }, Delivery::Queued));
    m_cancellables.push_back(m_navigationState->viewMode.subscribe(
        [commandStateChanged](BrowserViewMode) { commandStateChanged(); }, Delivery::Queued));
    m_cancellables.push_back(m_navigationState->currentPath.subscribe(
        [commandStateChanged](const std::optional<URL>&) { commandStateChanged(); }, Delivery::Queued));
    m_cancellables.push_back(m_clipboardManager->items.subscribe(
        [commandStateChanged](const QList<FileItem>&) { commandStateChanged(); }, Delivery::Queued));
    m_cancellables.push_back(m_clipboardManager->mode.subscribe(
        [commandStateChanged](ClipboardManager::Mode) { commandStateChanged(); }, Delivery::Queued));
    m_cancellables.push_back(m_transferManager.completedTransfers.subscribe(
        [this](const QList<Transfer>& transfers) { handleCompletedTransfers(transfers); }, Delivery::Queued));
}

std::optional<iOSDevice> MainWindowController::deviceShown(const QList<URL>& columnPaths,
                                                           const QList<iOSDevice>& devices) {
    if (devices.isEmpty())
        return std::nullopt;
    // The columns all lie on one device; its UDID is their host. A computer folder, or a device
    // that is gone, falls back to the first device of the list.
    if (!columnPaths.isEmpty() && columnPaths.last().scheme() == u"afc" && columnPaths.last().hasHost()) {
        const QString host = columnPaths.last().host();
        for (const iOSDevice& device : devices) {
            if (device.udid() == host)
                return device;
        }
    }
    return devices.first();
}

QString MainWindowController::windowTitle(const QList<URL>& columnPaths, const QList<iOSDevice>& devices) {
    if (columnPaths.isEmpty())
        return QStringLiteral("Orvanta");
    const QString component = columnPaths.last().lastPathComponent();
    if (component.isEmpty() || component == u"/") {
        const std::optional<iOSDevice> device = deviceShown(columnPaths, devices);
        return device ? displayName(*device) : QStringLiteral("Orvanta");
    }
    return component;
}

void MainWindowController::updateTitle() {
    // The empty state shows no folder: a title naming the one shown before the device went
    // would point at something that is no longer there.
    if (!m_isShowingBrowser) {
        m_window->setWindowTitle(QStringLiteral("Orvanta"));
        return;
    }
    const QList<URL>& columnPaths = m_navigationState->columnPaths.value();
    const QList<iOSDevice>& devices = m_deviceManager.connectedDevices.value();
    m_window->setWindowTitle(windowTitle(columnPaths, devices));
    if (m_pathBarView) {
        const std::optional<iOSDevice> device = deviceShown(columnPaths, devices);
        m_pathBarView->update(columnPaths, device ? std::optional<QString>(displayName(*device)) : std::nullopt);
    }
}

void MainWindowController::updateStatusBar() {
    if (m_statusBarView)
        m_statusBarView->update(m_navigationState->currentDirectoryContents.value().size(),
                                m_navigationState->selectedItems.value());
}

void MainWindowController::updateCurrentDevice() {
    const std::optional<URL>& path = m_navigationState->currentPath.value();
    std::optional<iOSDevice> device;
    if (path && path->scheme() == u"afc" && path->hasHost()) {
        for (const iOSDevice& candidate : m_deviceManager.connectedDevices.value()) {
            if (candidate.udid() == path->host()) {
                device = candidate;
                break;
            }
        }
    }
    m_navigationState->currentDevice = device;
}

void MainWindowController::updateEmptyStateSubtitle() {
    if (!m_isShowingBrowser && m_emptyStateSubtitleLabel)
        m_emptyStateSubtitleLabel->setText(subtitleText());
}

// Each list as it was published: every failure gets its alert, also one that a later list
// already pushed back. A list is published again for the same newest transfer (its report named,
// for one): a failure is alerted about once.
void MainWindowController::handleCompletedTransfers(const QList<Transfer>& transfers) {
    QSet<QUuid> listed;
    for (const Transfer& transfer : transfers)
        listed.insert(transfer.id);
    // One that left the list never comes first again.
    m_alertedTransfers.intersect(listed);
    if (transfers.isEmpty())
        return;
    const Transfer& latest = transfers.first();
    if (latest.state != TransferState::failed || !latest.error || m_alertedTransfers.contains(latest.id))
        return;
    m_alertedTransfers.insert(latest.id);
    showTransferError(*latest.error, latest.progress.currentFile);
}

void MainWindowController::showTransferError(const TransferError& error, const QString& fileName) {
    if (!m_window || !m_alertPresenter)
        return;
    m_alertTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
    m_alertTasks.append(presentAlert(m_alertPresenter, m_window.get(),
                                     warningAlert(QString::fromLatin1(transferFailedAlertTitle),
                                                  transferFailedAlertText(error, fileName))));
}
