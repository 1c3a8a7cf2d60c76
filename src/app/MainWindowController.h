#pragma once

#include "app/PathBarView.h"
#include "app/StatusBarView.h"
#include "app/Toolbar.h"
#include "browser/BrowserContainerController.h"
#include "models/BrowserViewMode.h"
#include "models/Transfer.h"
#include "models/iOSDevice.h"
#include "platform/Subscription.h"
#include "platform/URL.h"
#include "platform/async/TaskHandle.h"
#include "uikit/CommandRouter.h"

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QSplitter>
#include <QUuid>

#include <functional>
#include <memory>

class AlertPresenter;
class BrowserCommandHandling;
class ClipboardManager;
class DeviceManager;
class FavoritesManager;
class FileSystemProvider;
class FolderChooser;
class NavigationState;
class QuickLookCoordinator;
class QMainWindow;
class QTimer;
class QWidget;
class TransferError;
class TransferManager;
class TransferProgressWindowController;

// Owns the main window and the window's browsing state. The window shows the empty state while
// no device is attached (or the helper tools are missing) and the browser's split view
// otherwise; it follows the device list, opens the first device's root, copies a newly seen
// device's camera roll when auto-ingest is on, and alerts a failed transfer.
//
// The toolbar's items call the controller's actions: back and forward, the view mode, the search
// query, Copy of the selection into the default destination (or, with Alt held, into a folder
// the user chooses), the preview pane and the Transfer Center.
class MainWindowController : public QObject, public ActionTarget {
    Q_OBJECT
public:
    static constexpr QLatin1StringView frameDefaultsKey{"OrvantaMainWindow"};
    static constexpr QLatin1StringView favoritesDefaultsKey{"OrvantaFavorites"};
    static constexpr std::chrono::milliseconds frameSaveDelay{500};
    // The side panes' first width, and the preview pane's when it comes back from collapsing.
    static constexpr int previewPaneWidth = 240;

    // The services must outlive the controller. Without a provider the controller makes its own
    // over the device manager's bridge; tests hand one in to watch its listings.
    MainWindowController(DeviceManager& deviceManager, std::shared_ptr<TransferManager> transferManager,
                         std::shared_ptr<AlertPresenter> alertPresenter,
                         std::shared_ptr<FileSystemProvider> fileSystemProvider = nullptr);
    ~MainWindowController() override;

    QMainWindow* window() const;
    NavigationState& navigationState() const { return *m_navigationState; }
    FavoritesManager& favoritesManager() const { return *m_favoritesManager; }
    FileSystemProvider& fileSystemProvider() const { return *m_fileSystemProvider; }
    ClipboardManager& clipboardManager() const { return *m_clipboardManager; }

    bool isShowingBrowser() const { return m_isShowingBrowser; }
    QLabel* emptyStateSubtitleLabel() const { return m_emptyStateSubtitleLabel; }
    QSplitter* splitView() const { return m_splitView; }
    QWidget* sidebarView() const { return m_sidebarView; }
    QWidget* browserContainerView() const { return m_browserContainerView; }
    // The browsers' container while the split view is shown.
    BrowserContainerController* browserContainer() const { return m_browserContainer; }
    // The browser on screen when it answers the edit commands; nullptr otherwise.
    BrowserCommandHandling* currentBrowser() const;
    QWidget* previewPaneView() const { return m_previewPaneView; }
    PathBarView* pathBarView() const { return m_pathBarView; }
    StatusBarView* statusBarView() const { return m_statusBarView; }
    Toolbar* toolbar() const { return m_toolbar; }
    // The floating progress panel, made once with the window.
    TransferProgressWindowController* progressWindowController() const {
        return m_progressWindowController.get();
    }

    virtual void showEmptyState();
    virtual void showBrowser();

    void handleDevicesChanged(const QList<iOSDevice>& devices);
    void startAutoIngest(const iOSDevice& device);
    URL autoIngestDestination(const iOSDevice& device) const;
    virtual void showTransferError(const TransferError& error, const QString& fileName);

    // The ingest tasks started so far (tests await them).
    const QList<async::TaskHandle<void>>& autoIngestTasks() const { return m_ingestTasks; }

    // The device's name, or its model when the name is empty.
    static QString displayName(const iOSDevice& device);
    // The display name as one folder name that stays inside the ingest folder: "/" and NUL become
    // "-", surrounding blanks go, and what is then "", "." or ".." falls back to the model, else
    // "Device".
    static QString ingestFolderName(const iOSDevice& device);
    // The device the columns show: the one whose UDID is their host, else the first one.
    static std::optional<iOSDevice> deviceShown(const QList<URL>& columnPaths, const QList<iOSDevice>& devices);
    // The window title for the column paths and the devices.
    static QString windowTitle(const QList<URL>& columnPaths, const QList<iOSDevice>& devices);

    // Writes the window's frame to the settings now.
    void saveFrame();

    // Who asks for Copy's folder when Alt is held (tests put a fake in).
    void setFolderChooser(std::shared_ptr<FolderChooser> chooser);
    // Sends a command the application answers ("showTransferCenter:") along the command chain;
    // set by the application delegate.
    std::function<bool(const QString& selector, QObject* sender)> sendAction;

    // --- the toolbar's actions ---
    // 0 goes back, anything else forward; with an empty history nothing happens.
    void backForwardClicked(int index);
    // A segment of 0 to 2 becomes the view mode; anything else (no selection) is ignored.
    void viewModeChanged(int segment);
    void searchFieldChanged(const QString& text);
    // Copies the selection into the default destination, or with Alt into a folder the user
    // chooses; an empty selection beeps.
    void copySelectedFiles(Qt::KeyboardModifiers modifiers);
    // Hides or shows the preview pane; nothing while the browser is not shown.
    void togglePreviewPane();
    // The copies waiting for the folder chooser (tests await them).
    const QList<async::TaskHandle<void>>& copyTasks() const { return m_copyTasks; }

    // Made on first use, over the window's navigation state and the one device bridge.
    QuickLookCoordinator* quickLookCoordinator();
    // Closes the Quick Look panel when it is open, else fills it from the selection and shows it.
    void toggleQuickLook();

    bool validate(const QString& selector) override;
    void perform(const QString& selector, QObject* sender) override;
    // Only writes the navigation state's view mode: the container and the toolbar follow it.
    void setViewMode(BrowserViewMode mode);

signals:
    // Something the menu items' enabled states depend on changed: the selection, the folder's
    // contents, the clipboard, the view mode or the history. The command router revalidates.
    void commandStateChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupWindow();
    void setupToolbar();
    void setupBindings();
    void updateTitle();
    void updateStatusBar();
    void updateCurrentDevice();
    void updateEmptyStateSubtitle();
    void handleCompletedTransfers(const QList<Transfer>& transfers);
    QString subtitleText() const;

    DeviceManager& m_deviceManager;
    std::shared_ptr<TransferManager> m_transferManagerOwner;
    TransferManager& m_transferManager;
    std::shared_ptr<AlertPresenter> m_alertPresenter;
    std::unique_ptr<NavigationState> m_navigationState;
    std::shared_ptr<FileSystemProvider> m_fileSystemProvider;
    std::unique_ptr<FavoritesManager> m_favoritesManager;
    std::unique_ptr<ClipboardManager> m_clipboardManager;
    std::vector<Subscription> m_cancellables;

    std::unique_ptr<QMainWindow> m_window;
    // After the window: it goes first, while the window it floats over is still there.
    std::unique_ptr<TransferProgressWindowController> m_progressWindowController;
    QTimer* m_frameSaveTimer = nullptr;
    QPointer<QSplitter> m_splitView;
    QPointer<QWidget> m_sidebarView;
    QPointer<QWidget> m_browserContainerView;
    QPointer<BrowserContainerController> m_browserContainer;
    QPointer<QWidget> m_previewPaneView;
    QPointer<PathBarView> m_pathBarView;
    QPointer<StatusBarView> m_statusBarView;
    QPointer<Toolbar> m_toolbar;
    std::shared_ptr<FolderChooser> m_folderChooser;
    QPointer<QLabel> m_emptyStateSubtitleLabel;
    bool m_isShowingBrowser = false;
    QSet<QString> m_knownDeviceUDIDs;
    // Those of them whose files could be reached at the last change (their session was open).
    QSet<QString> m_reachableDeviceUDIDs;
    quint64 m_sessionsReplacedSeen = 0;

    QList<async::TaskHandle<void>> m_ingestTasks;
    QList<async::TaskHandle<void>> m_alertTasks;
    // The failed transfers among the finished ones that were alerted about already.
    QSet<QUuid> m_alertedTransfers;
    QList<async::TaskHandle<void>> m_copyTasks;
    // Last, so that it goes first: it reads the navigation state.
    std::unique_ptr<QuickLookCoordinator> m_quickLookCoordinator;
};
