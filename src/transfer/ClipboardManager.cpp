#include "transfer/ClipboardManager.h"

#include "platform/Logger.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Outcome.h"
#include "services/FileSystemProvider.h"
#include "transfer/TransferManager.h"

ClipboardManager::ClipboardManager(std::shared_ptr<TransferManager> transferManager,
                                   std::shared_ptr<FileSystemProvider> fileSystemProvider)
    : m_transferManager(std::move(transferManager)), m_fileSystemProvider(std::move(fileSystemProvider)) {}

ClipboardManager::~ClipboardManager() = default;

QSet<URL> ClipboardManager::cutItemURLs() const {
    QSet<URL> urls;
    if (mode.value() != Mode::cut)
        return urls;
    for (const FileItem& item : items.value())
        urls.insert(item.path());
    return urls;
}

bool ClipboardManager::canPaste(const URL& destination) const {
    const QList<FileItem> current = items.value();
    if (current.isEmpty())
        return false;
    for (const FileItem& item : current) {
        // Compared as locations, so "/A/B/" is /A/B; only the same scheme and device can clash.
        if (destination.isSameLocation(item.path()))
            return false;
        // A folder pasted below itself, by copy or by move, would copy itself without end.
        if (item.isDirectory() && destination.isBelow(item.path()))
            return false;
    }
    return true;
}

async::Task<void> ClipboardManager::paste(URL destination) {
    if (!canPaste(destination))
        co_return;
    const std::weak_ptr<const bool> alive = m_alive;
    const QList<FileItem> pasted = items.value();
    const Mode pastedMode = mode.value();
    const std::shared_ptr<TransferManager> manager = m_transferManager;
    const std::shared_ptr<FileSystemProvider> provider = m_fileSystemProvider;

    std::exception_ptr failure;
    if (pastedMode == Mode::copy) {
        async::Task<void> copying = manager->transferAndAwait(pasted, destination, std::nullopt);
        async::detail::Outcome<void> copied = co_await async::detail::settle(std::move(copying));
        failure = copied.error();
    } else {
        async::Task<void> moving = manager->moveItems(pasted, destination);
        async::detail::Outcome<void> moved = co_await async::detail::settle(std::move(moving));
        failure = moved.error();
    }
    if (failure) {
        Logger::ui().error("Paste failed: %s", async::describeException(failure));
        co_return;
    }
    if (alive.expired())
        co_return;
    // Items put on the clipboard during the move are not the ones that moved: they stay.
    if (pastedMode == Mode::cut && items.value() == pasted && mode.value() == Mode::cut) {
        items = QList<FileItem>{};
        mode = Mode::copy;
    }
    if (provider)
        provider->invalidateCache();
}
