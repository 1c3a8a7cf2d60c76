#pragma once

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

#include <memory>

class AlertPresenter;
class BrowserCommandHandling;
class ClipboardManager;
class DeviceManager;
class FavoritesManager;
class FileSystemProvider;
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
// The sidebar, browser and preview panes, the path bar, the status bar and the toolbar are
// placeholders until their own classes arrive; their object names are the
// ones the real widgets will carry.
class MainWindowController : public QObject, public ActionTarget {
    Q_OBJECT
public:
    static constexpr QLatin1StringView frameDefaultsKey{"OrvantaMainWindow"};
    static constexpr QLatin1StringView favoritesDefaultsKey{"OrvantaFavorites"};
    static constexpr std::chrono::milliseconds frameSaveDelay{500};

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
    QWidget* pathBarView() const { return m_pathBarView; }
    QWidget* statusBarView() const { return m_statusBarView; }
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
    // The window title for the column paths and the devices.
    static QString windowTitle(const QList<URL>& columnPaths, const QList<iOSDevice>& devices);

    // Writes the window's frame to the settings now.
    void saveFrame();

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
    void setupBindings();
    void updateTitle();
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
    QPointer<QWidget> m_pathBarView;
    QPointer<QWidget> m_statusBarView;
    QPointer<QLabel> m_emptyStateSubtitleLabel;
    bool m_isShowingBrowser = false;
    QSet<QString> m_knownDeviceUDIDs;

    QList<async::TaskHandle<void>> m_ingestTasks;
    QList<async::TaskHandle<void>> m_alertTasks;
    // Last, so that it goes first: it reads the navigation state.
    std::unique_ptr<QuickLookCoordinator> m_quickLookCoordinator;
};
