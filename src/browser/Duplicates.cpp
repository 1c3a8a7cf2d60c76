#include "browser/Duplicates.h"

#include "browser/ColumnBrowserViewController.h"
#include "platform/async/Cancellation.h"
#include "services/FileSystemProvider.h"
#include "transfer/TransferManager.h"

namespace Duplicates {

async::Task<void> duplicate(QList<FileItem> items, std::shared_ptr<FileSystemProvider> provider,
                            std::shared_ptr<TransferManager> transfers, std::stop_token token) {
    for (qsizetype at = 0; at < items.size(); ++at) {
        const FileItem item = items.at(at);
        const URL folder = item.path().deletingLastPathComponent();
        const QString name = item.path().lastPathComponent();
        std::function<QString()> naming = [name, folder] {
            return ColumnBrowserViewController::uniqueDuplicateName(name, folder);
        };
        QString newName;
        if (folder.isFileURL()) {
            async::Task<QString> looking = provider->lookLocally(std::move(naming));
            newName = co_await looking;
        } else {
            newName = naming();
        }
        async::throwIfCancelled(token);
        // The engine names the copy after the source's name: the same item under its new name.
        const FileItem source(item.id(), newName, item.path(), item.isDirectory(), item.size(),
                              item.modifiedDate(), item.kind(), item.uti());
        const Transfer transfer = transfers->startTransfer(QList<FileItem>{source}, folder);
        transfers->launchTask(transfer);
    }
}

} // namespace Duplicates
