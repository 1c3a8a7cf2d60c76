#include "transfer/ItemCopier.h"

#include "device/AFCComponents.h"
#include "device/AFCPath.h"
#include "device/LeftoverJournal.h"
#include "models/TransferError.h"
#include "platform/Error.h"
#include "platform/Logger.h"
#include "platform/async/Outcome.h"
#include "transfer/FileCopier.h"
#include "transfer/FolderCopier.h"
#include "transfer/TransferErrorMapping.h"
#include "transfer/TransferPlacement.h"
#include "transfer/TransferRun.h"

namespace {

// How often one item may find its name taken again before the transfer gives up on it: each time
// the clash is asked about, so only a name that keeps changing under us gets here.
constexpr int mostTries = 4;

} // namespace

async::Task<bool> ItemCopier::copy(std::shared_ptr<TransferRun> run, Item item, URL proposed,
                                   bool knownFree) {
    for (int attempt = 1;; ++attempt) {
        TransferManager::Placement placement{proposed, false, std::nullopt};
        if (!knownFree || attempt > 1) {
            async::Task<TransferManager::Placement> placing =
                run->manager->place(run, item.name, item.url, item.isDirectory, proposed);
            placement = co_await placing;
            if (placement.sameItem)
                co_return true;
        }
        async::Task<void> copying = copyPlaced(run, item, placement);
        async::detail::Outcome<void> copied = co_await async::detail::settle(std::move(copying));
        if (!copied.error())
            co_return false;
        if (placement.aside || attempt == mostTries ||
            !TransferErrorMapping::holds<NameTakenError>(copied.error()))
            std::rethrow_exception(copied.error());
        Logger::transfer().info("%s was taken meanwhile; asking again", placement.url.absoluteString());
        run->checkpoint();
    }
}

async::Task<void> ItemCopier::copyPlaced(std::shared_ptr<TransferRun> run, Item item,
                                         TransferManager::Placement placement) {
    if (!placement.aside) {
        async::Task<void> copying = copyTo(run, item, placement.url);
        co_await copying;
        co_return;
    }
    const TransferPlacement::Aside aside = *placement.aside;
    async::Task<void> copying =
        item.isDirectory ? buildFolderHidden(run, item, placement.url) : copyTo(run, item, placement.url);
    async::detail::Outcome<void> copied = co_await async::detail::settle(std::move(copying));
    // Settled however the copy ended, even when the transfer was cancelled or its manager went.
    async::Task<void> settling = run->placement->settleAside(aside, !copied.error());
    co_await settling;
    if (copied.error())
        std::rethrow_exception(copied.error());
}

async::Task<void> ItemCopier::copyTo(std::shared_ptr<TransferRun> run, Item item, URL destination) {
    if (item.isDirectory) {
        async::Task<void> copying = FolderCopier::copyFolder(run, item.url, destination);
        co_await copying;
        co_return;
    }
    const FileCopier::Source file{item.url, item.size, item.modified};
    async::Task<void> copying = FileCopier::copyFile(run, file, destination);
    co_await copying;
}

async::Task<void> ItemCopier::buildFolderHidden(std::shared_ptr<TransferRun> run, Item item,
                                                URL destination) {
    const std::shared_ptr<TransferPlacement> placement = run->placement;
    const URL hidden = destination.deletingLastPathComponent().appendingPathComponent(
        AFCPath::partialCopyName(placement->partialMark()));
    LeftoverJournal::Entry entry;
    entry.kind = LeftoverJournal::Kind::partialCopy;
    if (const std::optional<AFCComponents> components = afcComponents(hidden)) {
        entry.udid = components->udid;
        entry.bundleID = components->bundleID.value_or(QString());
        entry.path = components->devicePath;
    } else {
        entry.path = hidden.toLocalFile();
    }
    // Not written is no reason to stop: the hidden folder then only lacks its clean-up after a crash.
    async::Task<bool> noting = placement->journalBegin(entry);
    co_await noting;
    const int stagingLeftBefore = run->stagingFoldersLeft;
    async::Task<void> building = FolderCopier::copyFolder(run, item.url, hidden);
    async::detail::Outcome<void> built = co_await async::detail::settle(std::move(building));
    std::exception_ptr failure = built.error();
    // Renamed into place, a staging folder left in the build would sit in the user's folder, and
    // its entry would name a path no longer there.
    if (!failure && run->stagingFoldersLeft != stagingLeftBefore) {
        failure = std::make_exception_ptr(TransferError::ioError(
            QStringLiteral("\"%1\" was not replaced: a hidden folder of its copy could not be removed")
                .arg(destination.lastPathComponent())));
    }
    if (!failure) {
        async::Task<void> renaming = placement->rename(hidden, destination);
        async::detail::Outcome<void> renamed = co_await async::detail::settle(std::move(renaming));
        failure = renamed.error();
    }
    if (!failure) {
        async::Task<void> striking = placement->journalFinished(entry);
        co_await striking;
        run->ensureManager();
        run->manager->relocateReportEntries(run->id, hidden, destination);
        co_return;
    }
    async::Task<std::optional<TransferPlacement::Facts>> inspecting = placement->inspect(hidden);
    async::detail::Outcome<std::optional<TransferPlacement::Facts>> present =
        co_await async::detail::settle(std::move(inspecting));
    bool removed = !present.error() && !present.get();
    if (!removed && !present.error()) {
        async::Task<void> removing = placement->removeItem(hidden);
        async::detail::Outcome<void> gone = co_await async::detail::settle(std::move(removing));
        removed = !gone.error();
    }
    // Its files never reached the name they were copied for: they are not in the report.
    if (!run->managerAlive.expired())
        run->manager->relocateReportEntries(run->id, hidden, std::nullopt);
    if (removed) {
        async::Task<void> striking = placement->journalFinished(entry);
        co_await striking;
    } else {
        Logger::transfer().error("Could not remove the unfinished folder %s", hidden.absoluteString());
        async::Task<void> releasing = placement->journalReleased(entry);
        co_await releasing;
    }
    std::rethrow_exception(failure);
}
