#pragma once

#include "browser/BrowserCommandHandling.h"
#include "browser/DropHighlight.h"
#include "browser/ErrorPlaceholderView.h"
#include "browser/FileContextMenu.h"
#include "models/FileItem.h"
#include "platform/Subscription.h"
#include "platform/URL.h"
#include "platform/async/TaskHandle.h"

#include <QIcon>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <QWidget>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AlertPresenter;
struct BrowserKeyHandlers;
class ClipboardManager;
class DragAndDropHandler;
class FavoritesManager;
class FileItemListModel;
class FileSystemProvider;
class NavigationState;
class QAbstractItemView;
class QMimeData;
class Spinner;
class TransferManager;

// What the icon and the list browser share: one folder (the navigation state's current path,
// or the folder the browser before it showed when a mode switch brought it on screen), shown as
// a single collection of items. It lists the folder (dropping every result that is no
// longer the newest for the folder on screen; another folder's rows leave the moment the folder
// changes, and a spinner stands in the empty view until the new listing comes), filters by the
// search text, shows a placeholder when listing fails, publishes the selection, runs the edit
// commands, builds the context menu, starts drags and takes drops. The two views add only their
// layout, cells and keys.
class FlatBrowserController : public QWidget, public BrowserCommandHandling {
    Q_OBJECT
public:
    ~FlatBrowserController() override;

    void setAlertPresenter(std::shared_ptr<AlertPresenter> presenter) {
        m_alertPresenter = std::move(presenter);
    }
    std::function<void()> onQuickLook;
    // Called with each context menu made, before it is shown (the window sets its dialog seams).
    std::function<void(QMenu*)> onContextMenuMade;
    // Runs the drag of the given items out of the source view; a plain drag when unset.
    std::function<void(QList<FileItem>, QWidget* source)> dragStarter;

    // --- the commands of the window ---
    bool hasSelection() const override;
    bool canPaste() const override;
    void copySelection() override;
    void cutSelection() override;
    void paste() override;
    void duplicateSelection() override;
    void deleteSelection() override;
    void renameSelection() override;
    void selectAllItems() override;
    void setPublishesSharedState(bool publishes) override;
    void contentsChangedElsewhere() override;
    std::optional<ShownFolder> shownFolder() const override;
    void takeOver(const ShownFolder& shown) override;

    // --- state ---
    // The folder shown, or the home folder when nothing is shown yet: where pastes and drops on
    // no folder item go.
    URL currentDirectoryURL() const;
    // The folder this browser shows: the navigation's current path, or the folder the browser
    // before it showed when a mode switch brought it on screen.
    const std::optional<URL>& folder() const { return m_folder; }
    // The folder's last listing in the order the browser keeps it; empty after a failure.
    const QList<FileItem>& allItems() const { return m_allItems; }
    // What the view shows: allItems after the search filter.
    const QList<FileItem>& displayedItems() const;
    // The items of the selected positions, in position order.
    QList<FileItem> selectedItems() const;
    QList<int> selectedRows() const;
    ErrorPlaceholderView* errorPlaceholder() const { return m_errorPlaceholder; }
    // Turns over the empty view while the folder shown has not been listed yet.
    Spinner* spinner() const { return m_spinner; }
    FileItemListModel* model() const { return m_model; }
    QAbstractItemView* itemView() const { return m_itemView; }
    std::shared_ptr<DragAndDropHandler> dragHandler() const { return m_dragHandler; }
    // The listings, re-listings, pastes, deletes, renames and drops started so far (tests await
    // them).
    QList<async::TaskHandle<void>> tasks() const { return m_tasks; }

    // --- operations ---
    // Lists the folder in a task; forgetCache first drops the provider's copy of its listing,
    // which a change made here or by a transfer has made stale.
    void loadDirectory(const URL& url, bool forgetCache = false);
    void applyFilter();
    void confirmAndDelete(QList<FileItem> items);
    void renameSelectedItem();
    // A double click: a folder opens as the current path; anything else does nothing.
    void openItem(int row);
    // The context menu for a click at a point of the view's viewport, made anew each time: the
    // clicked item joins the selection (icon view) or becomes it (list view) first. Empty with
    // nothing selected.
    QMenu* contextMenuAt(const QPoint& viewportPoint);
    QMenu* contextMenu() const { return m_contextMenu; }
    // The drop rules: the operation a drag hovering at row (-1: no item) would get, and taking the
    // drop. onItem is false for a drop between items.
    Qt::DropAction dropAction(const QMimeData* data, int row, bool onItem,
                              Qt::KeyboardModifiers modifiers) const;
    // The same for a drag hovering over the view, which shows where the drop would go.
    Qt::DropAction hoverDrop(const QMimeData* data, int row, bool onItem, Qt::KeyboardModifiers modifiers);
    const DropHighlight& dropHighlight() const { return m_dropHighlight; }
    void setDropHighlight(DropHighlight highlight);
    bool acceptDrop(const QMimeData* data, int row, bool onItem, Qt::KeyboardModifiers modifiers);
    void startDrag(QWidget* source);

    // The items for dropped locations: the listed item when there is one, else what the provider
    // says, else an item made from the location itself.
    static async::Task<QList<FileItem>> fileItems(std::shared_ptr<FileSystemProvider> provider,
                                                  QList<FileItem> displayed, QList<URL> urls);
    // The search filter: blanks and tabs around the query do not count, line breaks do; names
    // match without regard to case.
    static QList<FileItem> filtered(const QList<FileItem>& items, const QString& query);
    // The delete question's message for these items.
    static QString deleteQuestion(const QList<FileItem>& items);
    // The icon a view draws for an item's index: the model's, or our own drawing of a folder or a
    // document where the desktop's theme has none.
    static QIcon itemIcon(const QModelIndex& index);

    // For the listing tasks: a result for the folder url, from the listing number generation.
    void applyListing(quint64 generation, const URL& url, const QList<FileItem>& items);
    void applyListingFailure(quint64 generation, const URL& url, std::exception_ptr error);
    void reloadCurrentFolder();
    // After a change this browser made (into that folder, when it went into one: a paste, a
    // drop): its folder lists again and the other browsers hear of it.
    void didChangeContents(const std::optional<URL>& into = std::nullopt);
    // A listing of that number was shown: the first one started after a change made elsewhere
    // ends the wait and publishes.
    void finishRelisting(quint64 generation);

protected:
    FlatBrowserController(std::shared_ptr<FileSystemProvider> fileSystemProvider,
                          NavigationState& navigationState, std::shared_ptr<TransferManager> transferManager,
                          FavoritesManager* favoritesManager, ClipboardManager* clipboardManager,
                          QWidget* parent);

    // Called once by the view's constructor, after it has made its view and model: connects them
    // and starts following the navigation state.
    void attachItemView(QAbstractItemView* view, FileItemListModel* model, BrowserKeyHandlers* keys);
    // "Icon view" or "List view", for the log.
    virtual QString viewName() const = 0;
    // The icon view adds the clicked item to the selection, the list selects it alone.
    virtual bool contextClickAddsToSelection() const = 0;
    // The list refuses a drop onto a file row; the icon view takes it as a drop between items.
    virtual bool refusesDropOnFile() const = 0;
    // After a listing has been shown.
    virtual void didShowListing() {}

    void syncSelection();

    std::shared_ptr<FileSystemProvider> m_fileSystemProvider;
    NavigationState& m_navigationState;
    std::shared_ptr<TransferManager> m_transferManager;
    FavoritesManager* m_favoritesManager;
    ClipboardManager* m_clipboardManager;
    QList<FileItem> m_allItems;

private:
    void startTask(async::TaskHandle<void> task);
    void setClipboard(bool cut);
    void selectRows(const QList<int>& rows, bool keepOthers);
    void showError(std::exception_ptr error);
    void removeErrorPlaceholder();
    // Makes url the folder shown and lists it.
    void showFolder(const URL& url);
    // The rows of the folder left: gone at once, with the spinner in their place.
    void forgetRows();
    // The spinner, while the folder shown has had no listing of its own yet.
    void setLoading(bool loading);
    void publishFolder();
    void publishContents(const QList<FileItem>& items);
    void publishSelection(const QList<FileItem>& items);
    FileContextMenuActions menuActions(const QList<FileItem>& items);
    // The operation of a drop at row, and the row it goes into (-1: the folder shown).
    RowDropRules::Operation dropOperation(const QMimeData* data, int row, bool onItem,
                                          Qt::KeyboardModifiers modifiers, int* targetRow) const;
    std::shared_ptr<AlertPresenter> presenter();

    std::shared_ptr<AlertPresenter> m_alertPresenter;
    std::shared_ptr<DragAndDropHandler> m_dragHandler;
    QAbstractItemView* m_itemView = nullptr;
    FileItemListModel* m_model = nullptr;
    QPointer<ErrorPlaceholderView> m_errorPlaceholder;
    Spinner* m_spinner = nullptr;
    QPointer<QMenu> m_contextMenu;
    DropHighlight m_dropHighlight;
    bool m_publishes = true;
    std::optional<URL> m_folder;
    // The last listing shown failed: the placeholder stands where the items were.
    bool m_failed = false;
    QList<FileItem> m_publishedContents;
    QList<FileItem> m_publishedSelection;
    // Counts the selections published, so that Select All can tell whether the view's own
    // handler already published the one it made.
    quint64 m_selectionPublishes = 0;
    // Every listing gets the next number; a result older than one already shown is stale.
    quint64 m_nextGeneration = 1;
    quint64 m_shownGeneration = 0;
    // Another browser changed files while this one was hidden.
    bool m_stale = false;
    // Shown again after such a change: the number of the listing that must arrive before
    // anything is published (0: none awaited).
    quint64 m_relistingFrom = 0;
    std::vector<Subscription> m_cancellables;
    QList<async::TaskHandle<void>> m_tasks;
};
