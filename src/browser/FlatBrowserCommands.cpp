// The edit commands of the list and icon browsers, from the window's menu, the view's keys or
// the context menu: copy, cut and paste, duplicate, rename (asking for the new name) and delete
// (asking first on a device); and the context menu, made anew for the items it opens on.

#include "browser/FlatBrowserController.h"

#include "browser/BrowserDeletion.h"
#include "browser/Duplicates.h"
#include "browser/ColumnBrowserViewController.h"
#include "browser/FileItemListModel.h"
#include "browser/RenameFailure.h"
#include "platform/Logger.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "services/FavoritesManager.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QMenu>

namespace {

using Self = QPointer<FlatBrowserController>;

void didChangeContents(const Self& self, const std::optional<URL>& into = std::nullopt) {
    if (self)
        self->didChangeContents(into);
}

async::Task<void> pasteInto(Self self, ClipboardManager* clipboard, URL folder, std::stop_token) {
    // A copy into a phone's folder that ended whole had every browser list its folders again.
    bool heard = false;
    if (clipboard)
        heard = co_await clipboard->paste(folder);
    if (!heard)
        didChangeContents(self, folder);
}

async::Task<void> renameItem(Self self, std::shared_ptr<FileSystemProvider> provider,
                             std::shared_ptr<AlertPresenter> presenter, FileItem item,
                             std::stop_token token) {
    if (!self)
        co_return;
    AlertRequest question;
    question.style = AlertRequest::Style::informational;
    question.message = QStringLiteral("Rename");
    question.informative = QStringLiteral("Enter a new name for \"%1\".").arg(item.name());
    question.buttons = QStringList{QStringLiteral("Rename"), QStringLiteral("Cancel")};
    AlertRequest::TextField field;
    field.initialText = item.name();
    question.textField = field;
    QWidget* parent = self->window();
    const AlertResponse answer = co_await presenter->ask(question, parent, token);
    if (answer.buttonIndex() != 0)
        co_return;
    const QString newName = answer.text.trimmed();
    if (newName == item.name() || !self)
        co_return;
    if (std::optional<AlertRequest> why = RenameFailure::refusal(item.name(), newName)) {
        co_await presenter->ask(*why, self->window(), token);
        co_return;
    }
    const URL from = item.path();
    const URL to = from.deletingLastPathComponent().appendingPathComponent(newName, from.hasDirectoryPath());
    std::exception_ptr failure;
    try {
        co_await provider->renameItem(from, to);
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure)
        Logger::ui().error("Rename failed: %s", async::describeException(failure));
    didChangeContents(self);
    if (!failure || !self)
        co_return;
    const AlertRequest why = RenameFailure::alert(item.name(), newName, failure);
    QWidget* window = self->window();
    co_await presenter->ask(why, window, token);
}

async::Task<void> moveItems(std::shared_ptr<TransferManager> transfers, QList<FileItem> items, URL target,
                            std::stop_token) {
    std::exception_ptr failure;
    try {
        co_await transfers->moveItems(items, target);
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure)
        Logger::transfer().error("Move failed: %s", async::describeException(failure));
}

} // namespace

bool FlatBrowserController::canPaste() const {
    return m_clipboardManager && m_clipboardManager->canPaste(currentDirectoryURL());
}

void FlatBrowserController::setClipboard(bool cut) {
    const QList<FileItem> items = selectedItems();
    if (items.isEmpty() || !m_clipboardManager)
        return;
    m_clipboardManager->items = items;
    m_clipboardManager->mode = cut ? ClipboardManager::Mode::cut : ClipboardManager::Mode::copy;
}

void FlatBrowserController::copySelection() {
    setClipboard(false);
}

void FlatBrowserController::cutSelection() {
    setClipboard(true);
}

void FlatBrowserController::paste() {
    const URL target = currentDirectoryURL();
    Self self(this);
    ClipboardManager* clipboard = m_clipboardManager;
    startTask(async::spawn([self, clipboard, target](std::stop_token token) {
        return pasteInto(self, clipboard, target, token);
    }));
}

void FlatBrowserController::duplicateSelection() {
    const QList<FileItem> items = selectedItems();
    if (items.isEmpty() || !m_transferManager)
        return;
    startTask(async::spawn(
        [items, provider = m_fileSystemProvider, transfers = m_transferManager](std::stop_token token) {
            return Duplicates::duplicate(items, provider, transfers, token);
        }));
}

QString FlatBrowserController::deleteQuestion(const QList<FileItem>& items) {
    return ColumnBrowserViewController::deleteQuestion(items);
}

void FlatBrowserController::deleteSelection() {
    confirmAndDelete(selectedItems());
}

void FlatBrowserController::confirmAndDelete(QList<FileItem> items) {
    if (items.isEmpty())
        return;
    std::optional<AlertRequest> question;
    if (items.first().path().scheme() == u"afc")
        question = BrowserDeletion::question(
            deleteQuestion(items),
            QStringLiteral("This will permanently delete the selected item(s) from your device."));
    Self self(this);
    const QPointer<QWidget> view(this);
    const std::function<void()> changed = [self] {
        if (self)
            self->didChangeContents();
    };
    auto provider = m_fileSystemProvider;
    auto alerts = presenter();
    startTask(async::spawn([view, changed, provider, alerts, items, question](std::stop_token token) {
        return BrowserDeletion::confirmAndDelete(view, changed, provider, alerts, items, question, token);
    }));
}

void FlatBrowserController::renameSelection() {
    renameSelectedItem();
}

void FlatBrowserController::renameSelectedItem() {
    const QList<FileItem> items = selectedItems();
    if (items.size() != 1)
        return;
    Self self(this);
    auto provider = m_fileSystemProvider;
    auto alerts = presenter();
    const FileItem item = items.first();
    startTask(async::spawn([self, provider, alerts, item](std::stop_token token) {
        return renameItem(self, provider, alerts, item, token);
    }));
}

void FlatBrowserController::openItem(int row) {
    if (row < 0 || row >= displayedItems().size())
        return;
    const FileItem item = displayedItems().at(row);
    if (item.isDirectory())
        m_navigationState.navigate(item.path());
}

// --- context menu ---

FileContextMenuActions FlatBrowserController::menuActions(const QList<FileItem>& items) {
    FileContextMenuActions actions;
    Self self(this);
    const auto command = [self](void (FlatBrowserController::*method)()) {
        return [self, method] {
            if (self)
                (self.data()->*method)();
        };
    };
    // The copy and move entries keep the items the menu was made for.
    std::shared_ptr<TransferManager> transfers = m_transferManager;
    if (transfers) {
        actions.copyAction = [transfers, items](const URL& destination) {
            const Transfer transfer = transfers->startTransfer(items, destination);
            transfers->launchTask(transfer);
        };
        if (items.first().path().scheme() == u"afc") {
            actions.moveAction = [self, transfers, items](const URL& destination) {
                auto task = async::spawn([transfers, items, destination](std::stop_token token) {
                    return moveItems(transfers, items, destination, token);
                });
                if (self)
                    self->startTask(std::move(task));
            };
        }
    }
    if (items.size() == 1 && m_favoritesManager) {
        FavoritesManager* favorites = m_favoritesManager;
        actions.addToSidebarAction = [favorites](const FileItem& folder) {
            favorites->add(folder.name(), folder.path(), QStringLiteral("folder.fill"));
        };
    }
    actions.cutAction = command(&FlatBrowserController::cutSelection);
    actions.copyClipboardAction = command(&FlatBrowserController::copySelection);
    actions.pasteAction = command(&FlatBrowserController::paste);
    actions.canPaste = canPaste();
    if (items.size() == 1)
        actions.renameAction = command(&FlatBrowserController::renameSelectedItem);
    actions.duplicateAction = command(&FlatBrowserController::duplicateSelection);
    // The selection when the entry is chosen.
    actions.deleteAction = command(&FlatBrowserController::deleteSelection);
    return actions;
}

QMenu* FlatBrowserController::contextMenuAt(const QPoint& viewportPoint) {
    if (m_contextMenu) {
        m_contextMenu->hide();
        m_contextMenu->deleteLater();
    }
    const QModelIndex clicked = m_itemView->indexAt(viewportPoint);
    if (clicked.isValid() && clicked.row() < displayedItems().size() &&
        !selectedRows().contains(clicked.row())) {
        if (contextClickAddsToSelection()) {
            selectRows({clicked.row()}, true);
        } else {
            selectRows({clicked.row()}, false);
            m_itemView->selectionModel()->setCurrentIndex(clicked, QItemSelectionModel::NoUpdate);
        }
        syncSelection();
    }
    const QList<FileItem> items = selectedItems();
    std::shared_ptr<AFCBridge> bridge = m_transferManager ? m_transferManager->afcBridge() : nullptr;
    m_contextMenu =
        items.isEmpty() ? new QMenu(this) : makeFileContextMenu(items, bridge, menuActions(items), this);
    if (ContextMenuTarget* target = ContextMenuTarget::of(m_contextMenu)) {
        target->dialogParent = window();
        target->alertPresenter = presenter();
    }
    if (onContextMenuMade)
        onContextMenuMade(m_contextMenu);
    return m_contextMenu;
}
