#pragma once

#include "browser/ColumnBrowserViewController.h"
#include "browser/IconBrowserViewController.h"
#include "browser/ListBrowserViewController.h"
#include "models/BrowserViewMode.h"
#include "platform/Subscription.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class AlertPresenter;
class BrowserCommandHandling;
class ClipboardManager;
class FavoritesManager;
class FileSystemProvider;
class FolderWatcher;
class NavigationState;
class TransferManager;
class UiTimerSource;

// Fills the browser area of the main window with the browser of the navigation state's view
// mode. Each browser is made on first use and kept, so its columns, items and selection survive
// a switch away and back; a hidden browser goes on following the current folder (its listing
// shares the reading of the one on screen), but only the one on screen writes the selection, the
// folder's contents and the folders the path bar names. A switch hands the new browser the folder
// the old one showed, with its listing. The computer folders shown are watched: a change on disk
// makes every browser list again.
class BrowserContainerController : public QWidget {
    Q_OBJECT
public:
    BrowserContainerController(std::shared_ptr<FileSystemProvider> fileSystemProvider,
                               NavigationState& navigationState,
                               std::shared_ptr<TransferManager> transferManager,
                               FavoritesManager* favoritesManager, ClipboardManager* clipboardManager,
                               QWidget* parent = nullptr);
    ~BrowserContainerController() override;

    // Set before the first browser is made (the container makes it on the first queued turn).
    void setAlertPresenter(std::shared_ptr<AlertPresenter> presenter) {
        m_alertPresenter = std::move(presenter);
    }
    void setTimerSource(UiTimerSource& timers);
    // Space in a browser: the window's Quick Look toggle.
    std::function<void()> onQuickLook;

    void showBrowser(BrowserViewMode mode);
    // What the browsers show may have changed outside the window (a device came, went, was locked
    // or unlocked): each lists its folders again, the one on screen at once, a hidden one when it
    // is shown.
    void listAgain();

    QWidget* currentChild() const { return m_currentChild; }
    // The browser on screen when it answers the edit commands; nullptr otherwise.
    BrowserCommandHandling* currentCommandHandler() const;
    // The list of the browser on screen that Tab gives the keyboard to; nullptr when none.
    QWidget* keyView() const;
    ColumnBrowserViewController* columnBrowser() const { return m_columnBrowser; }
    ListBrowserViewController* listBrowser() const { return m_listBrowser; }
    IconBrowserViewController* iconBrowser() const { return m_iconBrowser; }
    // Watches the computer folders shown.
    const FolderWatcher& folderWatcher() const { return *m_folderWatcher; }

private:
    QWidget* browserFor(BrowserViewMode mode);
    void hookUp(FlatBrowserController* browser);
    void hearChanges(BrowserCommandHandling* browser);
    // Tells every browser but one (none: all of them) that files changed elsewhere.
    void tellBrowsers(const BrowserCommandHandling* except);
    void focusBrowser();
    // How many entries the window shows of a folder on screen (0 when it shows none).
    qsizetype shownEntries(const URL& folder) const;

    std::shared_ptr<FileSystemProvider> m_fileSystemProvider;
    NavigationState& m_navigationState;
    std::shared_ptr<TransferManager> m_transferManager;
    FavoritesManager* m_favoritesManager;
    ClipboardManager* m_clipboardManager;
    std::shared_ptr<AlertPresenter> m_alertPresenter;
    UiTimerSource* m_timers;
    std::vector<Subscription> m_cancellables;

    QPointer<ColumnBrowserViewController> m_columnBrowser;
    QPointer<ListBrowserViewController> m_listBrowser;
    QPointer<IconBrowserViewController> m_iconBrowser;
    QPointer<QWidget> m_currentChild;
    FolderWatcher* m_folderWatcher = nullptr;
};
