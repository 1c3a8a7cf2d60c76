#pragma once

#include "models/FileItem.h"
#include "platform/URL.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStandardPaths>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class AFCBridge;
class AlertPresenter;
class FolderChooser;
class QMenu;
class QWidget;
class ThumbnailCache;

// Shows a computer item in the file manager; failed runs, later, when nothing could.
using RevealInFileManager = std::function<void(const URL& url, std::function<void()> failed)>;

// What the calling browser does for each entry of the file context menu. An entry whose action
// is missing is shown disabled; the move entries appear only with a move action.
struct FileContextMenuActions {
    std::function<void(const URL& folder)> copyAction;
    std::function<void(const URL& folder)> moveAction;
    std::function<void(const FileItem& folder)> addToSidebarAction;
    std::function<void()> cutAction;
    std::function<void()> copyClipboardAction;
    std::function<void()> pasteAction;
    bool canPaste = false;
    std::function<void()> renameAction;
    std::function<void()> duplicateAction;
    std::function<void()> deleteAction;
};

// Carries the items and actions of one context menu and receives its commands. It is a child of
// its menu, so it lives exactly as long as the menu's entries.
class ContextMenuTarget : public QObject {
    Q_OBJECT
public:
    ContextMenuTarget(QList<FileItem> items, std::shared_ptr<AFCBridge> afcBridge,
                      FileContextMenuActions actions, QObject* parent = nullptr);
    ~ContextMenuTarget() override;

    // The target of a menu made by makeFileContextMenu.
    static ContextMenuTarget* of(const QMenu* menu);

    const QList<FileItem>& items() const { return m_items; }
    const std::shared_ptr<AFCBridge>& afcBridge() const { return m_afcBridge; }

    // Seams, set by the browser (and by tests): the chooser of the "to…" entries (our own dialog
    // when unset), the window its dialogs and Get Info panels belong to, the cache of Get Info's
    // thumbnails (the shared one when unset), what reveals a computer item, what tells the user
    // it could not (our own alert when unset), and where the user's folders are.
    std::shared_ptr<FolderChooser> folderChooser;
    QPointer<QWidget> dialogParent;
    ThumbnailCache* thumbnailCache = nullptr;
    RevealInFileManager reveal;
    std::shared_ptr<AlertPresenter> alertPresenter;
    std::function<std::optional<URL>(QStandardPaths::StandardLocation)> standardFolder;

    // The user's Downloads or Desktop folder; nothing when the latest look found it was not there
    // (the sidebar's rule: the menu offers only the places the sidebar lists). Never looks at the
    // disk itself.
    static std::optional<URL> userFolder(QStandardPaths::StandardLocation location);

    void copyToDownloads();
    void copyToDesktop();
    void copyToChosen();
    void moveToDownloads();
    void moveToDesktop();
    void moveToChosen();
    void addToSidebar();
    void getInfo();
    void handleCut();
    void handleCopyClipboard();
    void handlePaste();
    void handleRename();
    void handleDuplicate();
    void handleDelete();

private:
    void sendTo(QStandardPaths::StandardLocation location, const std::function<void(const URL&)>& action);
    void chooseFor(const QString& prompt, std::function<void(const URL&)> action);

    QList<FileItem> m_items;
    std::shared_ptr<AFCBridge> m_afcBridge;
    FileContextMenuActions m_actions;
};

// The one context menu of every browser for its selected items: copy or move them to Downloads
// and the Desktop (those of them that are there) or a chosen folder, add a folder to the sidebar,
// Get Info, the clipboard commands, rename, duplicate, and delete (device items) or move to the
// trash. Empty without items. The shortcuts shown are only shown: the window's own shortcuts run
// the commands.
QMenu* makeFileContextMenu(QList<FileItem> items, std::shared_ptr<AFCBridge> afcBridge,
                           FileContextMenuActions actions, QWidget* parent = nullptr);

// Get Info of one item: the panel of a device item (over window, with the shared thumbnail cache
// when none is given), the file manager's view of a computer item through reveal; when nothing
// can show it, presenter says so over window.
void showItemInfo(const FileItem& item, std::shared_ptr<AFCBridge> afcBridge, ThumbnailCache* thumbnailCache,
                  QWidget* window, const RevealInFileManager& reveal,
                  std::shared_ptr<AlertPresenter> presenter);

// The menu's header for the items: the one item's name, else "<n> Items".
QString contextMenuHeader(const QList<FileItem>& items);
