#pragma once

#include "browser/ErrorPlaceholderView.h"
#include "browser/RowDropRules.h"
#include "models/FileItem.h"
#include "platform/Subscription.h"
#include "platform/URL.h"
#include "platform/async/TaskHandle.h"

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AlertPresenter;
class ClipboardManager;
class ColumnTableView;
class DragAndDropHandler;
class FavoritesManager;
class FileItemListModel;
class FileSystemProvider;
class FolderChooser;
class QLineEdit;
class QMenu;
class Spinner;
class TransferManager;
class UiTimerSource;

// One column of the column browser: the items of one folder in a one-column list, a spinner
// while the folder lists, a placeholder when it cannot, the inline rename, the cut items drawn
// dimmed, rows dragged out and drops taken in, and the file context menu of its rows. It never
// lists a folder itself and decides nothing about navigation: the column browser gives it items,
// services and callbacks.
class ColumnPanelView : public QWidget {
    Q_OBJECT
public:
    static constexpr int defaultWidth = 220;
    static constexpr int rowHeight = 20;

    explicit ColumnPanelView(UiTimerSource& timers, QWidget* parent = nullptr);
    ~ColumnPanelView() override;

    // The items shown, in display order (the column browser's filtered list).
    const QList<FileItem>& items() const;
    // Replaces the items; rows whose items are still there stay selected (no change is
    // reported for them). Returns the selected items afterwards, in row order.
    QList<FileItem> setItems(QList<FileItem> items);
    // The selected items in row order.
    QList<FileItem> selectedItems() const;
    bool hasSelection() const;
    QList<int> selectedRows() const;

    URL directoryPath = URL::fileURL(QStringLiteral("/"), true);
    bool isLoading() const { return m_isLoading; }
    // Loading shows the spinner in place of the list.
    void setLoading(bool loading);

    std::shared_ptr<FileSystemProvider> fileSystemProvider;
    ClipboardManager* clipboardManager = nullptr;
    std::shared_ptr<TransferManager> transferManager;
    FavoritesManager* favoritesManager = nullptr;
    // Produces the rows dragged out to other programs; without one no row can be dragged.
    std::shared_ptr<DragAndDropHandler> dragHandler;
    // Names what a drag out left out; the context menu's "to…" chooser. Our own dialogs when unset.
    std::shared_ptr<AlertPresenter> alertPresenter;
    // The alert presenter set, or the dialogs' own when none was.
    std::shared_ptr<AlertPresenter> presenter() const;
    std::shared_ptr<FolderChooser> folderChooser;

    std::function<void(const FileItem&, int row)> onSelectItem;
    std::function<void()> onDeselectAll;
    // The context menu's commands, for exactly the items it was opened on.
    std::function<void(const QList<FileItem>&)> onDeleteAction;
    std::function<void(const QList<FileItem>&)> onCopyClipboardAction;
    std::function<void(const QList<FileItem>&)> onCutAction;
    std::function<void(const QList<FileItem>&)> onDuplicateAction;
    // Pastes into the given folder: the column's own.
    std::function<void(const URL&)> onPasteAction;
    std::function<bool()> canPasteProvider;
    // After a drop's copy or move into that folder ended.
    std::function<void(const URL& into)> onDropCompleted;
    // After the provider renamed an item, from its old location to its new one: the folder must
    // be listed again to show the new name.
    std::function<void(const URL& from, const URL& to)> onRenamed;

    ColumnTableView* tableView() const { return m_tableView; }
    FileItemListModel* model() const { return m_model; }
    Spinner* spinner() const { return m_spinner; }
    ErrorPlaceholderView* errorPlaceholder() const { return m_errorPlaceholder; }
    QLineEdit* renameTextField() const { return m_renameTextField; }
    const std::optional<FileItem>& renamingItem() const { return m_renamingItem; }

    int columnWidth() const { return width(); }
    void setColumnWidth(int width);

    // Removes the placeholder and shows the items again.
    void reloadItems();
    // Replaces any earlier placeholder; the panel takes ownership.
    void showErrorPlaceholder(ErrorPlaceholderView* placeholder);
    void removeErrorPlaceholder();
    // Follows the clipboard so that cut items are drawn dimmed.
    void observeClipboard();

    // Opens the name of the item's row for editing; an open rename is cancelled first.
    void beginRename(const FileItem& item);
    void commitRename();
    void cancelRename();
    // After the row at from was renamed to to: when it is selected, the listing that shows the
    // new name keeps it selected.
    void followRenamedSelection(const URL& from, const URL& to);
    // The rename tasks started so far (tests await them).
    const QList<async::TaskHandle<void>>& renameTasks() const { return m_renameTasks; }

    // The file context menu for the selected rows; nullptr (no menu) without a selection or a
    // transfer engine. The caller owns it.
    QMenu* makeContextMenu(QWidget* parent = nullptr);

    // Drags the selected rows: inside the application their locations, outside their copies.
    void startRowDrag();
    // What a drop at that row would do, shown while it hovers.
    RowDropRules::Operation validateDrop(const QMimeData* data, int row, RowDropRules::Position position,
                                         Qt::KeyboardModifiers modifiers);
    // Takes the drop and starts its move or copy; false when refused.
    bool acceptDrop(const QMimeData* data, int row, RowDropRules::Position position,
                    Qt::KeyboardModifiers modifiers);
    // The drops being carried out (tests await them).
    const QList<async::TaskHandle<void>>& dropTasks() const { return m_dropTasks; }
    // The items of dropped locations: the column's own where it shows them, else as the provider
    // describes them, else as the disk does.
    static async::Task<QList<FileItem>>
    fileItems(QList<FileItem> shown, std::shared_ptr<FileSystemProvider> provider, QList<URL> urls);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void selectionDidChange();
    std::optional<FileItem> closeRenameField();

    UiTimerSource& m_timers;
    FileItemListModel* m_model;
    ColumnTableView* m_tableView;
    Spinner* m_spinner;
    QPointer<ErrorPlaceholderView> m_errorPlaceholder;
    QPointer<QLineEdit> m_renameTextField;
    std::optional<FileItem> m_renamingItem;
    std::optional<std::pair<URL, URL>> m_renamedSelection;
    bool m_isLoading = false;
    std::vector<Subscription> m_clipboardSubscriptions;
    QList<async::TaskHandle<void>> m_renameTasks;
    QList<async::TaskHandle<void>> m_dropTasks;
};
