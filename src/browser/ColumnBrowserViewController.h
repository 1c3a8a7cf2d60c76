#pragma once

#include "browser/BrowserCommandHandling.h"
#include "browser/ColumnDividerView.h"
#include "models/FileItem.h"
#include "platform/Subscription.h"
#include "platform/URL.h"
#include "platform/async/TaskHandle.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

class AlertPresenter;
class ClipboardManager;
class ColumnPanelView;
class ColumnTableView;
class DragAndDropHandler;
class DropAcceptingScrollView;
class FavoritesManager;
class FileSystemProvider;
class FolderChooser;
class NavigationState;
class QHBoxLayout;
class TransferManager;
class UiTimerSource;

// The current folder as a row of columns, one per folder level: the first column lists the
// navigation state's current path, and a folder selected in a column opens in a new column to
// its right. It lists through the provider, drops results that arrive for a column that has
// since gone or changed, filters by the search text, and answers the window's edit commands.
//
// It never changes the current path. The column paths, the selection and the listed contents
// are published only while this browser is the one on screen; the flat browsers publish the
// path of the one folder they show, so the title and path bar name what is on screen.
class ColumnBrowserViewController : public QWidget, public BrowserCommandHandling {
    Q_OBJECT
public:
    static constexpr int minimumColumnWidth = 100;

    struct ColumnState {
        URL path;
        // The folder's full listing as last received, unfiltered.
        QList<FileItem> items;
        bool isLoading = true;
        // The last listing failed: the column shows a placeholder.
        bool failed = false;
        std::optional<int> selectedRow;
    };

    ColumnBrowserViewController(std::shared_ptr<FileSystemProvider> fileSystemProvider,
                                NavigationState& navigationState,
                                std::shared_ptr<TransferManager> transferManager,
                                FavoritesManager* favoritesManager, UiTimerSource& timers,
                                QWidget* parent = nullptr);
    ~ColumnBrowserViewController() override;

    // Set by the container right after creation; handed to every new panel.
    ClipboardManager* clipboardManager = nullptr;
    // Asks the delete question and shows the failure summary; a dialog of our own when unset.
    void setAlertPresenter(std::shared_ptr<AlertPresenter> presenter);
    // The chooser of the context menu's "to…" entries; our own dialog when unset.
    void setFolderChooser(std::shared_ptr<FolderChooser> chooser);
    // Produces what the columns' rows drag out to other programs; the browser makes its own.
    const std::shared_ptr<DragAndDropHandler>& dragHandler() const { return m_dragHandler; }
    void setDragHandler(std::shared_ptr<DragAndDropHandler> handler);
    // The scrolling row of columns; other programs' files dropped on its empty stretch are
    // copied into the last column's folder.
    DropAcceptingScrollView* scrollView() const { return m_scrollArea; }
    // Space in a column.
    std::function<void()> onQuickLook;

    // --- the commands of the window ---
    bool hasSelection() const override { return !m_selection.isEmpty(); }
    bool canPaste() const override;
    void copySelection() override;
    void cutSelection() override;
    void paste() override;
    void duplicateSelection() override;
    void deleteSelection() override;
    void renameSelection() override;
    void selectAllItems() override;
    // The same commands for given items (the context menu's rows) and a given folder.
    void copyItems(const QList<FileItem>& items, bool cut);
    void duplicateItems(const QList<FileItem>& items);
    void deleteItems(const QList<FileItem>& items);
    void pasteInto(const URL& folder);
    void setPublishesSharedState(bool publishes) override;
    bool publishesSharedState() const { return m_publishes; }
    void contentsChangedElsewhere() override;
    std::optional<ShownFolder> shownFolder() const override;
    void takeOver(const ShownFolder& shown) override;
    // After a change made here (into that folder, when it went into one: a paste, a drop): every
    // column lists again and the other browsers hear of it.
    void didChangeContents(const std::optional<URL>& into = std::nullopt);
    // The end of a re-listing of every column.
    void finishRelisting();

    // --- columns ---
    const QList<ColumnState>& columns() const { return m_columns; }
    const QList<ColumnPanelView*>& panels() const { return m_panels; }
    const QList<ColumnDividerView*>& dividers() const { return m_dividers; }
    ColumnDividerView* trailingDivider() const { return m_trailingDivider; }
    // The selection this browser holds, in row order: what the commands act on.
    const QList<FileItem>& selection() const { return m_selection; }

    void resetColumns(const URL& url);
    void appendColumn(const URL& url);
    void truncateColumns(int index);
    void columnSelectionChanged(const FileItem& item, int row, int column);
    // The column's rows were all deselected (a click below them, the last one Ctrl-clicked away).
    void columnDeselected(int column);
    void moveFocusRight(int column);
    void applySearchFilter();
    QList<FileItem> filteredItems(const QList<FileItem>& items) const;
    // Lists every column again, one after the other, after emptying the provider's cache; a
    // column whose folder is no longer in the column before it goes, with those after it.
    void refreshAllColumns();
    // After an item was renamed from one location to another: open columns of that folder, or
    // of folders inside it, take the new location; then every column is listed again.
    void followRename(const URL& from, const URL& to);
    // The location url has once the folder from is renamed to to (url itself when outside it).
    static URL renamedLocation(const URL& url, const URL& from, const URL& to);
    // The column whose list has the keyboard focus, searched from the last; else the last column
    // (forRename: the last column with a selected row); -1 when there is none.
    int focusedColumn(bool forRename = false) const;
    // Where the keyboard goes when Tab enters the browser: the column that has it, else the one
    // holding the selection, else the last one; nullptr without columns.
    ColumnTableView* keyView() const;

    // The background work started so far: listings, re-listings, pastes and deletes (tests
    // await them).
    QList<async::TaskHandle<void>> tasks() const { return m_tasks; }

    // The folders a path bar shows for these columns: on a device the root and the folders
    // above the first column come first; inside an app's container the device root and then the
    // container's root.
    static QList<URL> columnPathsFor(const QList<URL>& columnFolders);
    // The name of a copy: "IMG_0001.JPG" gives "IMG_0001 copy.JPG", ".bashrc" gives ".bashrc copy".
    static QString duplicateName(const QString& name);
    // On this computer the first of the " copy", " copy 2", ... names that nothing in the folder
    // bears; on a device the plain duplicate name (the transfer engine settles clashes there).
    static QString uniqueDuplicateName(const QString& name, const URL& folder);
    static QString deleteQuestion(const QList<FileItem>& items);

    // For the listing tasks: a result or failure for column index that listed url.
    // False when the answer came too late for the column (it is gone or shows another folder).
    bool applyListing(int index, const URL& url, const QList<FileItem>& items);
    bool applyListingFailure(int index, const URL& url, std::exception_ptr error);
    // After column index was listed again: cuts the columns back when the folder of the next
    // column is no longer listed there, else keeps that folder selected.
    void closeVanishedColumns(int index);
    // Each re-listing of the columns is numbered; one that a newer re-listing replaced stops, since
    // its answers may predate the change (a rename, a delete) that started the newer one.
    quint64 currentRelisting() const { return m_relisting; }

private:
    ColumnPanelView* makePanel(int index, const URL& url);
    ColumnDividerView* makeDivider(ColumnPanelView* panel, const QString& objectName);
    void layoutNewColumn(ColumnPanelView* panel);
    void replaceTrailingDivider();
    void scrollToLastColumn();
    // Scrolls so that the whole of panel shows.
    void showWhole(ColumnPanelView* panel);
    // The keyboard moves to the column: its list takes the focus, and it is shown whole.
    void focusColumn(int column);
    void updateColumnPaths();
    void publishContents(const QList<FileItem>& items);
    void publishSelection(const QList<FileItem>& items);
    void republishSelectionOf(int column);
    void resizeColumn(ColumnPanelView* panel, double delta);
    void startTask(async::TaskHandle<void> task);
    void configurePanels();

    std::shared_ptr<FileSystemProvider> m_fileSystemProvider;
    NavigationState& m_navigationState;
    std::shared_ptr<TransferManager> m_transferManager;
    FavoritesManager* m_favoritesManager;
    UiTimerSource& m_timers;
    std::shared_ptr<AlertPresenter> m_alertPresenter;
    std::shared_ptr<FolderChooser> m_folderChooser;
    std::shared_ptr<DragAndDropHandler> m_dragHandler;

    QList<ColumnState> m_columns;
    quint64 m_relisting = 0;
    QList<ColumnPanelView*> m_panels;
    QList<ColumnDividerView*> m_dividers;
    QPointer<ColumnDividerView> m_trailingDivider;
    DropAcceptingScrollView* m_scrollArea;
    QWidget* m_containerView;
    QHBoxLayout* m_columnsLayout;

    bool m_publishes = true;
    // Another browser changed files while this one was hidden.
    bool m_stale = false;
    // Shown again after such a change: nothing is published until the columns are listed anew.
    bool m_awaitingRelisting = false;
    QList<FileItem> m_contents;
    QList<FileItem> m_selection;
    // The column the selection was made in; -1 for none.
    int m_selectionColumn = -1;
    // Counts the selections published, so that a command can tell whether a handler it set off
    // has published already.
    quint64 m_selectionPublishes = 0;
    std::optional<URL> m_shownPath;
    std::vector<Subscription> m_cancellables;
    QList<async::TaskHandle<void>> m_tasks;
};
