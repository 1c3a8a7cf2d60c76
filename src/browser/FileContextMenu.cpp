#include "browser/FileContextMenu.h"

#include "browser/GetInfoPanelController.h"
#include "platform/Logger.h"
#include "platform/UserFolders.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "platform/async/TaskHandle.h"
#include "services/FolderLooks.h"
#include "services/ThumbnailCache.h"
#include "uikit/FolderChooser.h"
#include "uikit/Workspace.h"

#include <QAction>
#include <QMenu>

namespace {

const char* selectorProperty = "orvantaSelector";

// Asks for a folder and hands it to the action. The action, not the target, is kept: the menu
// and its target are gone by the time the user has chosen, and the choice must still count.
async::Task<void> chooseAndSend(std::shared_ptr<FolderChooser> chooser, QPointer<QWidget> parent,
                                QString prompt, std::function<void(const URL&)> action,
                                std::stop_token token) {
    FolderChooser::Request request;
    request.prompt = prompt;
    request.message = QStringLiteral("Choose a destination folder");
    std::optional<URL> folder;
    try {
        async::Task<std::optional<URL>> choosing = chooser->choose(request, parent.data(), token);
        folder = co_await std::move(choosing);
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        Logger::ui().error("Choosing a folder failed: %s",
                           async::describeException(std::current_exception()));
    }
    if (folder && action)
        action(*folder);
}

QAction* addEntry(QMenu* menu, ContextMenuTarget* target, const QString& title, const char* selector,
                  void (ContextMenuTarget::*slot)(), bool enabled, const QKeySequence& shortcut = {}) {
    auto* action = menu->addAction(title);
    action->setProperty(selectorProperty, QString::fromLatin1(selector));
    action->setData(QVariant::fromValue<QObject*>(target));
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        // Shown only: the window's own shortcut runs the command, once.
        action->setShortcutContext(Qt::WidgetShortcut);
    }
    action->setEnabled(enabled);
    if (enabled)
        QObject::connect(action, &QAction::triggered, target, slot);
    return action;
}

} // namespace

ContextMenuTarget::ContextMenuTarget(QList<FileItem> items, std::shared_ptr<AFCBridge> afcBridge,
                                     FileContextMenuActions actions, QObject* parent)
    : QObject(parent), reveal(&Workspace::reveal), standardFolder(&ContextMenuTarget::userFolder),
      m_items(std::move(items)), m_afcBridge(std::move(afcBridge)), m_actions(std::move(actions)) {
    setObjectName(QStringLiteral("contextMenuTarget"));
}

ContextMenuTarget::~ContextMenuTarget() = default;

ContextMenuTarget* ContextMenuTarget::of(const QMenu* menu) {
    return menu ? menu->findChild<ContextMenuTarget*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

std::optional<URL> ContextMenuTarget::userFolder(QStandardPaths::StandardLocation location) {
    // As the sidebar last saw it, a folder not looked at yet taken to be there: a look from here
    // would hold the window for as long as a share that holds the folder is silent.
    const std::optional<QString> path = UserFolders::placePath(location);
    if (!path || !FolderLooks::latest(*path).value_or(true))
        return std::nullopt;
    return URL::fileURL(*path, true);
}

void ContextMenuTarget::sendTo(QStandardPaths::StandardLocation location,
                               const std::function<void(const URL&)>& action) {
    if (!action || !standardFolder)
        return;
    if (const std::optional<URL> folder = standardFolder(location))
        action(*folder);
}

void ContextMenuTarget::chooseFor(const QString& prompt, std::function<void(const URL&)> action) {
    if (!action)
        return;
    std::shared_ptr<FolderChooser> chooser = folderChooser;
    if (!chooser)
        chooser = std::make_shared<DialogFolderChooser>();
    QPointer<QWidget> parent = dialogParent;
    async::spawn([chooser, parent, prompt, action](std::stop_token token) {
        return chooseAndSend(chooser, parent, prompt, action, token);
    });
}

void ContextMenuTarget::copyToDownloads() {
    sendTo(QStandardPaths::DownloadLocation, m_actions.copyAction);
}

void ContextMenuTarget::copyToDesktop() {
    sendTo(QStandardPaths::DesktopLocation, m_actions.copyAction);
}

void ContextMenuTarget::copyToChosen() {
    chooseFor(QStringLiteral("Copy Here"), m_actions.copyAction);
}

void ContextMenuTarget::moveToDownloads() {
    sendTo(QStandardPaths::DownloadLocation, m_actions.moveAction);
}

void ContextMenuTarget::moveToDesktop() {
    sendTo(QStandardPaths::DesktopLocation, m_actions.moveAction);
}

void ContextMenuTarget::moveToChosen() {
    chooseFor(QStringLiteral("Move Here"), m_actions.moveAction);
}

void ContextMenuTarget::addToSidebar() {
    if (m_actions.addToSidebarAction && !m_items.isEmpty())
        m_actions.addToSidebarAction(m_items.first());
}

void ContextMenuTarget::getInfo() {
    if (m_items.isEmpty())
        return;
    QWidget* window = dialogParent ? dialogParent->window() : nullptr;
    std::shared_ptr<AlertPresenter> presenter =
        alertPresenter ? alertPresenter : std::make_shared<DialogAlertPresenter>();
    showItemInfo(m_items.first(), m_afcBridge, thumbnailCache, window, reveal, std::move(presenter));
}

void showItemInfo(const FileItem& item, std::shared_ptr<AFCBridge> afcBridge, ThumbnailCache* thumbnailCache,
                  QWidget* window, const RevealInFileManager& reveal,
                  std::shared_ptr<AlertPresenter> presenter) {
    if (item.path().scheme() == u"afc") {
        ThumbnailCache* cache = thumbnailCache ? thumbnailCache : &ThumbnailCache::shared();
        GetInfoPanelController::open(item, cache, std::move(afcBridge), window);
        return;
    }
    if (!reveal)
        return;
    // Said over the window once the desktop has answered: a command that shows nothing at all
    // leaves the user wondering whether the key was taken.
    const QPointer<QWidget> over(window);
    const AlertRequest alert =
        Workspace::revealFailedAlert(item.isDirectory() ? QStringLiteral("The folder could not be shown.")
                                                        : QStringLiteral("The file could not be shown."),
                                     item.name());
    reveal(item.path(), [presenter, over, alert] {
        if (presenter && over)
            presentAlert(presenter, over, alert);
    });
}

void ContextMenuTarget::handleCut() {
    if (m_actions.cutAction)
        m_actions.cutAction();
}

void ContextMenuTarget::handleCopyClipboard() {
    if (m_actions.copyClipboardAction)
        m_actions.copyClipboardAction();
}

void ContextMenuTarget::handlePaste() {
    if (m_actions.pasteAction)
        m_actions.pasteAction();
}

void ContextMenuTarget::handleRename() {
    if (m_actions.renameAction)
        m_actions.renameAction();
}

void ContextMenuTarget::handleDuplicate() {
    if (m_actions.duplicateAction)
        m_actions.duplicateAction();
}

void ContextMenuTarget::handleDelete() {
    if (m_actions.deleteAction)
        m_actions.deleteAction();
}

QString contextMenuHeader(const QList<FileItem>& items) {
    if (items.size() == 1)
        return items.first().name();
    return QStringLiteral("%1 Items").arg(items.size());
}

QMenu* makeFileContextMenu(QList<FileItem> items, std::shared_ptr<AFCBridge> afcBridge,
                           FileContextMenuActions actions, QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("fileContextMenu"));
    if (items.isEmpty())
        return menu;
    const QString h = contextMenuHeader(items);
    const bool one = items.size() == 1;
    const FileItem first = items.first();
    const bool hasMove = bool(actions.moveAction);
    const bool canAddToSidebar = one && first.isDirectory() && bool(actions.addToSidebarAction);
    const bool onDevice = first.path().scheme() == u"afc";
    const FileContextMenuActions given = actions;
    auto* target = new ContextMenuTarget(std::move(items), std::move(afcBridge), std::move(actions), menu);

    using T = ContextMenuTarget;
    // The places the sidebar lists: a folder that is not there is neither offered nor made.
    const bool toDownloads = ContextMenuTarget::userFolder(QStandardPaths::DownloadLocation).has_value();
    const bool toDesktop = ContextMenuTarget::userFolder(QStandardPaths::DesktopLocation).has_value();
    const auto addPlaces = [&](const QString& verb, const char* downloads, void (T::*toDownloadsSlot)(),
                               const char* desktop, void (T::*toDesktopSlot)()) {
        if (toDownloads)
            addEntry(menu, target, QStringLiteral("%1 %2 to Downloads").arg(verb, h), downloads,
                     toDownloadsSlot, true);
        if (toDesktop)
            addEntry(menu, target, QStringLiteral("%1 %2 to Desktop").arg(verb, h), desktop, toDesktopSlot,
                     true);
        if (toDownloads || toDesktop)
            menu->addSeparator();
    };
    addPlaces(QStringLiteral("Copy"), "copyToDownloads:", &T::copyToDownloads,
              "copyToDesktop:", &T::copyToDesktop);
    addEntry(menu, target, QStringLiteral("Copy %1 to...").arg(h), "copyToChosen:", &T::copyToChosen, true);
    if (hasMove) {
        menu->addSeparator();
        addPlaces(QStringLiteral("Move"), "moveToDownloads:", &T::moveToDownloads,
                  "moveToDesktop:", &T::moveToDesktop);
        addEntry(menu, target, QStringLiteral("Move %1 to...").arg(h), "moveToChosen:", &T::moveToChosen,
                 true);
    }
    if (canAddToSidebar) {
        menu->addSeparator();
        addEntry(menu, target, QStringLiteral("Add to Sidebar"), "addToSidebar:", &T::addToSidebar, true);
    }
    if (one) {
        menu->addSeparator();
        addEntry(menu, target, QStringLiteral("Get Info"), "getInfo:", &T::getInfo, true,
                 QKeySequence(Qt::CTRL | Qt::Key_I));
    }
    menu->addSeparator();
    addEntry(menu, target, QStringLiteral("Cut"), "handleCut", &T::handleCut, bool(given.cutAction),
             QKeySequence(Qt::CTRL | Qt::Key_X));
    addEntry(menu, target, QStringLiteral("Copy"), "handleCopyClipboard", &T::handleCopyClipboard,
             bool(given.copyClipboardAction), QKeySequence(Qt::CTRL | Qt::Key_C));
    addEntry(menu, target, QStringLiteral("Paste"), "handlePaste", &T::handlePaste,
             bool(given.pasteAction) && given.canPaste, QKeySequence(Qt::CTRL | Qt::Key_V));
    menu->addSeparator();
    if (one && given.renameAction)
        addEntry(menu, target, QStringLiteral("Rename"), "handleRename", &T::handleRename, true);
    addEntry(menu, target, QStringLiteral("Duplicate"), "handleDuplicate", &T::handleDuplicate,
             bool(given.duplicateAction), QKeySequence(Qt::CTRL | Qt::Key_D));
    // Device items are gone for good; computer items go to the trash, where they can be fetched
    // back.
    if (onDevice)
        addEntry(menu, target, QStringLiteral("Delete"), "handleDelete", &T::handleDelete,
                 bool(given.deleteAction), QKeySequence(Qt::Key_Backspace));
    else
        addEntry(menu, target, QStringLiteral("Move to Trash"), "handleDelete", &T::handleDelete,
                 bool(given.deleteAction), QKeySequence(Qt::CTRL | Qt::Key_Backspace));
    return menu;
}
