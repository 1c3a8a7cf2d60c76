#include "app/MainWindowController.h"

#include "app/AlertConflictPrompter.h"
#include "app/MainWindowKeyViews.h"
#include "app/PathBarView.h"
#include "app/StatusBarView.h"
#include "app/Toolbar.h"
#include "app/TransferProgressWindowController.h"
#include "browser/BrowserCommandHandling.h"
#include "browser/BrowserContainerController.h"
#include "browser/FileContextMenu.h"
#include "device/DeviceManager.h"
#include "models/TransferError.h"
#include "platform/DateFormat.h"
#include "platform/Logger.h"
#include "platform/ObservableOperators.h"
#include "platform/UiTimerSource.h"
#include "platform/UserDefaults.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "services/FavoritesManager.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "services/SelectionOrder.h"
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
#include "uikit/QuickLookPanel.h"
#include "uikit/Symbols.h"
#include "uikit/Workspace.h"

#include <algorithm>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QScreen>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

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

// Copy's folder question: the copy starts only when the user chose a folder and the window's
// controller is still there.
async::Task<void> copyIntoChosenFolder(QPointer<MainWindowController> controller,
                                       std::shared_ptr<FolderChooser> chooser,
                                       TransferManager* transferManager, QList<FileItem> items,
                                       std::stop_token token) {
    FolderChooser::Request request;
    request.prompt = QStringLiteral("Copy Here");
    request.message = QStringLiteral("Choose a destination for %1 item%2")
                          .arg(items.size())
                          .arg(items.size() == 1 ? "" : "s");
    QWidget* parent = controller ? controller->window() : nullptr;
    const std::optional<URL> chosen = co_await chooser->choose(request, parent, token);
    if (token.stop_requested() || !controller || !chosen)
        co_return;
    const Transfer transfer = transferManager->startTransfer(items, *chosen);
    transferManager->launchTask(transfer);
}

// The folder tasks a controller started: they hold it weakly and do nothing once it is gone.
async::Task<void> runAutoIngest(QPointer<MainWindowController> controller,
                                std::shared_ptr<FileSystemProvider> provider,
                                TransferManager* transferManager, iOSDevice device, URL url,
                                std::stop_token token) {
    QList<FileItem> items;
    std::exception_ptr failure;
    try {
        items = co_await provider->listDirectory(url);
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (token.stop_requested() || !controller)
        co_return;
    if (failure) {
        Logger::transfer().error("Auto-ingest failed: %s", async::describeException(failure));
        co_return;
    }
    if (items.isEmpty())
        co_return;

    const URL destination = controller->autoIngestDestination(device);
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(destination.toLocalFile().toStdString()),
                                        error);
    if (error) {
        Logger::transfer().error("Auto-ingest failed: %s", QString::fromStdString(error.message()));
        co_return;
    }
    const Transfer transfer = transferManager->startTransfer(items, destination);
    transferManager->launchTask(transfer);
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

QString MainWindowController::displayName(const iOSDevice& device) {
    return device.name().isEmpty() ? device.model() : device.name();
}

QString MainWindowController::ingestFolderName(const iOSDevice& device) {
    const auto clean = [](QString name) {
        name.replace(u'/', u'-');
        name.replace(QChar(u'\0'), u'-');
        name = name.trimmed();
        return (name.isEmpty() || name == u"." || name == u"..") ? QString() : name;
    };
    if (QString name = clean(displayName(device)); !name.isEmpty())
        return name;
    if (QString model = clean(device.model()); !model.isEmpty())
        return model;
    return QStringLiteral("Device");
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

void MainWindowController::handleDevicesChanged(const QList<iOSDevice>& devices) {
    QSet<QString> udids;
    QSet<QString> reachable;
    for (const iOSDevice& device : devices) {
        udids.insert(device.udid());
        if (device.isAFCConnected())
            reachable.insert(device.udid());
    }
    const QSet<QString> newUDIDs = udids - m_knownDeviceUDIDs;
    // A device that came or went, or whose files became reachable or not (back locked, unlocked
    // since): what was listed from it before is no longer known to be there.
    const bool reachChanged = udids != m_knownDeviceUDIDs || reachable != m_reachableDeviceUDIDs;
    m_knownDeviceUDIDs = udids;
    m_reachableDeviceUDIDs = reachable;
    if (reachChanged)
        m_fileSystemProvider->invalidateCache();

    if (devices.isEmpty()) {
        Logger::ui().info("No devices connected — showing empty state");
        showEmptyState();
    } else {
        QStringList names;
        for (const iOSDevice& device : devices)
            names << displayName(device);
        Logger::ui().info("Devices connected: %s", names.join(QStringLiteral(", ")));
        showBrowser();
        // A folder of a device that has gone would be listed under another device's name, as a
        // connection failure: the first device's root is shown instead, as when it first came.
        const std::optional<URL>& current = m_navigationState->currentPath.value();
        if (!current || (current->scheme() == u"afc" && !udids.contains(current->host())))
            m_navigationState->navigate(
                URL::fromComponents(QStringLiteral("afc"), devices.first().udid(), "/"));
        // A browser that stayed through the change asks its folders again; a new one lists anyway.
        if (reachChanged && m_browserContainer)
            m_browserContainer->listAgain();
    }
    for (const QString& udid : newUDIDs) {
        for (const iOSDevice& device : devices) {
            if (device.udid() == udid) {
                startAutoIngest(device);
                break;
            }
        }
    }
}

URL MainWindowController::autoIngestDestination(const iOSDevice& device) const {
    URL destination = PreferencesViewController::autoIngestDestination();
    if (PreferencesViewController::autoIngestIncludeDeviceFolder())
        destination = destination.appendingPathComponent(ingestFolderName(device), true);
    if (PreferencesViewController::autoIngestIncludeDateFolder())
        destination = destination.appendingPathComponent(DateFormat::dayFolder(QDate::currentDate()), true);
    return destination;
}

void MainWindowController::startAutoIngest(const iOSDevice& device) {
    if (!PreferencesViewController::autoIngestEnabled())
        return;
    const URL url = URL::fromComponents(QStringLiteral("afc"), device.udid(), QStringLiteral("/DCIM"));
    QPointer<MainWindowController> self(this);
    auto provider = m_fileSystemProvider;
    TransferManager* transferManager = &m_transferManager;
    m_ingestTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
    m_ingestTasks.append(async::spawn([self, provider, transferManager, device, url](std::stop_token token) {
        return runAutoIngest(self, provider, transferManager, device, url, token);
    }));
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

BrowserCommandHandling* MainWindowController::currentBrowser() const {
    return m_browserContainer ? m_browserContainer->currentCommandHandler() : nullptr;
}

bool MainWindowController::validate(const QString& selector) {
    BrowserCommandHandling* browser = currentBrowser();
    if (selector == u"cut:" || selector == u"copy:" || selector == u"duplicate:" ||
        selector == u"deleteBackward:")
        return browser && browser->hasSelection();
    if (selector == u"rename:")
        return browser && browser->canRename() && browser->hasSelection();
    if (selector == u"paste:")
        return browser && browser->canPaste();
    if (selector == u"selectAll:")
        return !m_navigationState->currentDirectoryContents.value().isEmpty();
    if (selector == u"goBackAction:")
        return !m_navigationState->backStack().isEmpty();
    if (selector == u"goForwardAction:")
        return !m_navigationState->forwardStack().isEmpty();
    if (selector == u"showColumnsView:" || selector == u"showListView:" || selector == u"showIconsView:")
        return true;
    if (selector == u"toggleQuickLook:")
        return true;
    // As the context menu offers it: for one item of the browser on screen.
    if (selector == u"getInfo:")
        return browser && m_navigationState->selectedItems.value().size() == 1;
    // Quick Look and the Transfer Center arrive with the windows that answer them.
    return false;
}

void MainWindowController::setViewMode(BrowserViewMode mode) {
    m_navigationState->viewMode = mode;
}

void MainWindowController::perform(const QString& selector, QObject*) {
    BrowserCommandHandling* browser = currentBrowser();
    // An edit command no browser answers beeps; it is not validated first, so that the beep
    // sounds also where the menu item was disabled (a key that still reached us).
    using Command = void (BrowserCommandHandling::*)();
    static const QHash<QString, Command> editCommands{
        {QStringLiteral("cut:"), &BrowserCommandHandling::cutSelection},
        {QStringLiteral("copy:"), &BrowserCommandHandling::copySelection},
        {QStringLiteral("paste:"), &BrowserCommandHandling::paste},
        {QStringLiteral("duplicate:"), &BrowserCommandHandling::duplicateSelection},
        {QStringLiteral("deleteBackward:"), &BrowserCommandHandling::deleteSelection},
        {QStringLiteral("rename:"), &BrowserCommandHandling::renameSelection},
    };
    if (const auto command = editCommands.constFind(selector); command != editCommands.constEnd()) {
        if (!browser) {
            Beep::beep();
            return;
        }
        // A stale enabled state never runs a command: Qt hands a disabled item's key on.
        if (validate(selector))
            (browser->**command)();
        return;
    }
    if (selector == u"selectAll:") {
        if (browser) {
            browser->selectAllItems();
        } else {
            const QList<FileItem>& contents = m_navigationState->currentDirectoryContents.value();
            m_navigationState->selectedItems = QSet<FileItem>(contents.begin(), contents.end());
        }
        return;
    }
    if (!validate(selector))
        return;
    if (selector == u"toggleQuickLook:") {
        toggleQuickLook();
        return;
    }
    if (selector == u"getInfo:") {
        showItemInfo(*m_navigationState->selectedItems.value().cbegin(), m_deviceManager.afcBridge(), nullptr,
                     m_window.get(), &Workspace::reveal, m_alertPresenter);
        return;
    }
    if (selector == u"showColumnsView:")
        setViewMode(BrowserViewMode::column);
    else if (selector == u"showListView:")
        setViewMode(BrowserViewMode::list);
    else if (selector == u"showIconsView:")
        setViewMode(BrowserViewMode::icon);
    else if (selector == u"goBackAction:")
        m_navigationState->goBack();
    else if (selector == u"goForwardAction:")
        m_navigationState->goForward();
}

QuickLookCoordinator* MainWindowController::quickLookCoordinator() {
    if (!m_quickLookCoordinator) {
        m_quickLookCoordinator = std::make_unique<QuickLookCoordinator>(
            *m_navigationState, m_deviceManager.afcBridge(), UiTimerSource::system());
        QPointer<QMainWindow> window(m_window.get());
        m_quickLookCoordinator->mainWindow = [window]() -> QWidget* {
            return window.data();
        };
        m_quickLookCoordinator->alertPresenter = m_alertPresenter;
    }
    return m_quickLookCoordinator.get();
}

void MainWindowController::toggleQuickLook() {
    QuickLookCoordinator* coordinator = quickLookCoordinator();
    QuickLookPanel* panel = QuickLookPanel::shared();
    if (panel->isPanelVisible()) {
        panel->orderOut();
        return;
    }
    // A second press while the first still waits for a device copy means "never mind".
    if (coordinator->cancelPendingShows())
        return;
    coordinator->showPanel(panel);
}

// --- the toolbar ---

void MainWindowController::setupToolbar() {
    auto* toolbar = new Toolbar;
    QPointer<MainWindowController> self(this);
    toolbar->onBackForward = [self](int index) {
        if (self)
            self->backForwardClicked(index);
    };
    toolbar->onViewMode = [self](int segment) {
        if (self)
            self->viewModeChanged(segment);
    };
    toolbar->onSearch = [self](const QString& text) {
        if (self)
            self->searchFieldChanged(text);
    };
    toolbar->onCopy = [self] {
        // The modifiers of the click's own event, not the keyboard's state now.
        if (self)
            self->copySelectedFiles(QGuiApplication::keyboardModifiers());
    };
    toolbar->onTogglePreview = [self] {
        if (self)
            self->togglePreviewPane();
    };
    toolbar->onShowTransferCenter = [self, toolbar] {
        if (self && self->sendAction)
            self->sendAction(QStringLiteral("showTransferCenter:"), toolbar->transferCenterButton());
    };
    m_window->addToolBar(Qt::TopToolBarArea, toolbar);
    m_toolbar = toolbar;
}

void MainWindowController::setFolderChooser(std::shared_ptr<FolderChooser> chooser) {
    m_folderChooser = std::move(chooser);
}

void MainWindowController::backForwardClicked(int index) {
    if (index == 0)
        m_navigationState->goBack();
    else
        m_navigationState->goForward();
}

void MainWindowController::viewModeChanged(int segment) {
    if (unsigned(segment) < 3)
        setViewMode(BrowserViewMode(segment));
}

void MainWindowController::searchFieldChanged(const QString& text) {
    m_navigationState->searchQuery = text;
}

void MainWindowController::togglePreviewPane() {
    // Once the split view is gone (the empty state) there is no pane to fold.
    if (!m_splitView || !m_previewPaneView || m_previewPaneView->parentWidget() != m_splitView)
        return;
    const int index = m_splitView->indexOf(m_previewPaneView);
    // Dragging the divider to the edge collapses the pane to no width while it stays shown: that
    // counts as folded too, or the toggle would "show" a pane nobody can see.
    const bool folded = m_previewPaneView->isHidden() || m_splitView->sizes().value(index) == 0;
    if (!folded) {
        m_previewPaneView->hide();
        return;
    }
    m_previewPaneView->show();
    QList<int> sizes = m_splitView->sizes();
    if (sizes.value(index) > 0)
        return;
    // A pane the splitter collapsed comes back at its first width, taken from the browser.
    const int width = std::clamp(previewPaneWidth, m_previewPaneView->minimumWidth(),
                                 m_previewPaneView->maximumWidth());
    const int browserIndex = m_splitView->indexOf(m_browserContainerView);
    sizes[index] = width;
    if (browserIndex >= 0)
        sizes[browserIndex] = std::max(0, sizes[browserIndex] - width);
    m_splitView->setSizes(sizes);
}

void MainWindowController::copySelectedFiles(Qt::KeyboardModifiers modifiers) {
    const QSet<FileItem>& selection = m_navigationState->selectedItems.value();
    if (selection.isEmpty()) {
        Beep::beep();
        return;
    }
    const QList<FileItem> items =
        SelectionOrder::inListingOrder(selection, m_navigationState->currentDirectoryContents.value());

    if (modifiers.testFlag(Qt::AltModifier)) {
        QPointer<MainWindowController> self(this);
        auto chooser = m_folderChooser;
        TransferManager* transferManager = &m_transferManager;
        m_copyTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
        m_copyTasks.append(async::spawn([self, chooser, transferManager, items](std::stop_token token) {
            return copyIntoChosenFolder(self, chooser, transferManager, items, token);
        }));
        return;
    }
    const Transfer transfer =
        m_transferManager.startTransfer(items, PreferencesViewController::defaultDestination());
    m_transferManager.launchTask(transfer);
}
