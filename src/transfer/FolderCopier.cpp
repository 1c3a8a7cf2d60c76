#include "transfer/FolderCopier.h"

#include "device/AFCBridge.h"
#include "device/AFCComponents.h"
#include "device/AFCPath.h"
#include "device/LeftoverJournal.h"
#include "models/TransferError.h"
#include "platform/Error.h"
#include "platform/Logger.h"
#include "platform/async/Outcome.h"
#include "services/FileListing.h"
#include "services/FileSystemProvider.h"
#include "services/PreferencesViewController.h"
#include "transfer/DeviceFolderListing.h"
#include "transfer/FileCopier.h"
#include "transfer/ItemCopier.h"
#include "transfer/LocalTransferFiles.h"
#include "transfer/TransferErrorMapping.h"
#include "transfer/TransferManager.h"
#include "transfer/TransferPlacement.h"
#include "transfer/TransferRun.h"

#include <QList>
#include <QStringList>

#include <algorithm>
#include <deque>
#include <exception>

namespace {

struct Child {
    QString name;
    URL url;
    bool isDirectory = false;
    quint64 size = 0;
    Date modified;
};

struct Children {
    QList<Child> items;
    QList<LocalTransferFiles::Unreadable> unreadable;
};

bool isDevice(const URL& url) {
    return url.scheme() == QLatin1String("afc");
}

bool forMoveRun(const std::shared_ptr<TransferRun>& run) {
    return run->manager->isMoveCopy(run->id);
}

async::Task<Children> listChildren(std::shared_ptr<TransferRun> run, URL source) {
    Children children;
    // A move deletes what it copied, so its copy must see the folder as it is now and whole,
    // hidden items included: a folder is only removed once nothing is left in it.
    const bool forMove = run->manager->isMoveCopy(run->id);
    if (isDevice(source)) {
        const std::shared_ptr<FileSystemProvider> provider = run->placement->provider();
        FileListing listed;
        if (forMove) {
            async::Task<FileListing> listing = DeviceFolderListing::listAll(run->placement, source);
            listed = co_await listing;
        } else {
            if (!provider)
                throw TransferError::ioError(QStringLiteral("FileSystemProvider not available"));
            async::Task<FileListing> listing =
                provider->listDirectoryDetailed(source, run->placement->bridge());
            listed = co_await listing;
        }
        run->checkpoint();
        children.items.reserve(listed.items.size());
        for (const FileItem& item : listed.items)
            children.items.append(
                Child{item.name(), item.path(), item.isDirectory(), item.size(), item.modifiedDate()});
        for (const QString& name : listed.skippedNames)
            children.unreadable.append(
                {name, listed.skipReasons.value(
                           name, QStringLiteral("the device would not describe it, or its name is not safe to use"))});
        co_return children;
    }
    const bool showHidden = forMove || PreferencesViewController::showHiddenFiles();
    async::Task<LocalTransferFiles::Listing> listing = run->placement->executor().run(
        [path = source.toLocalFile(), showHidden] { return LocalTransferFiles::list(path, showHidden); });
    const LocalTransferFiles::Listing listed = co_await listing;
    run->checkpoint();
    children.items.reserve(listed.children.size());
    for (const LocalTransferFiles::Child& child : listed.children)
        children.items.append(Child{child.name, source.appendingPathComponent(child.name, child.isDirectory),
                                    child.isDirectory, child.size, child.modified});
    children.unreadable = listed.unreadable;
    co_return children;
}

// Files whose device work is queued ahead of the one being finished.
struct Pipeline {
    std::deque<FileCopier::Started> inFlight;
    // The first failure; the copies already queued are still finished (and recorded when whole).
    std::exception_ptr failure;
};

// Finishes queued copies, oldest first, until at most keep are left. Never fails: a failure is
// kept in the pipeline. A file whose name was taken meanwhile (another program, or a file system
// that folds case) is placed again, with the question that any clash asks.
async::Task<void> settleUntil(std::shared_ptr<TransferRun> run, std::shared_ptr<Pipeline> pipeline,
                              size_t keep) {
    while (pipeline->inFlight.size() > keep) {
        FileCopier::Started started = std::move(pipeline->inFlight.front());
        pipeline->inFlight.pop_front();
        const ItemCopier::Item item{started.destination.lastPathComponent(), started.source.url, false,
                                    started.source.size, started.source.modified};
        const URL destination = started.destination;
        async::Task<void> finishing = FileCopier::finish(run, std::move(started));
        async::detail::Outcome<void> finished = co_await async::detail::settle(std::move(finishing));
        std::exception_ptr failure = finished.error();
        if (failure && !pipeline->failure && TransferErrorMapping::holds<NameTakenError>(failure) &&
            !run->token.stop_requested() && !run->managerAlive.expired()) {
            async::Task<bool> placing = ItemCopier::copy(run, item, destination);
            async::detail::Outcome<bool> placed = co_await async::detail::settle(std::move(placing));
            failure = placed.error();
        }
        if (failure && !pipeline->failure)
            pipeline->failure = failure;
    }
}

// How many files a folder copy keeps queued on the bridge ahead of the one it finishes.
constexpr size_t lookahead = 4;

LeftoverJournal::Entry newFolderEntry(const URL& folder, const QString& mark) {
    LeftoverJournal::Entry entry;
    entry.kind = LeftoverJournal::Kind::newFolder;
    entry.mark = mark;
    if (const std::optional<AFCComponents> components = afcComponents(folder)) {
        entry.udid = components->udid;
        entry.bundleID = components->bundleID.value_or(QString());
        entry.path = TransferPlacement::normalizedPath(components->devicePath);
    } else {
        entry.path = TransferPlacement::normalizedPath(folder.toLocalFile());
    }
    return entry;
}

// The children of a folder, one after the other. Into a folder made just now (fresh) they need
// no look for what is already there; covered: that folder is written down in the journal.
async::Task<void> copyChildren(std::shared_ptr<TransferRun> run, URL source, URL destination, Children children,
                               bool fresh, bool covered, std::shared_ptr<AFCStaging> staging) {
    for (const LocalTransferFiles::Unreadable& entry : children.unreadable) {
        Logger::transfer().error("Not copied: %s in %s (%s)", entry.name, source.absoluteString(),
                                 entry.reason);
        run->manager->recordUnreadableItem(run->id, entry.name, entry.reason, source, destination);
    }

    // Into a folder made just now, files between this computer and a device go one after the
    // other on the bridge without waiting for the main thread in between.
    const bool pipelined = fresh && isDevice(source) != isDevice(destination);
    if (pipelined) {
        const URL device = isDevice(source) ? source : destination;
        async::Task<void> session = run->placement->openSession(
            TransferPlacement::deviceComponents(device, QStringLiteral("Invalid afc URL: ")));
        co_await session;
        run->checkpoint();
    }
    auto pipeline = std::make_shared<Pipeline>();
    quint64 nextBase = run->bytesCopied;

    for (qsizetype index = 0; index < children.items.size(); ++index) {
        // A copy, not a reference: nothing refers into the list across an await.
        const Child child = children.items.at(index);
        const URL proposed = destination.appendingPathComponent(child.name);
        if (pipelined && !child.isDirectory) {
            async::Task<void> making = settleUntil(run, pipeline, lookahead - 1);
            co_await making;
            if (pipeline->failure || run->token.stop_requested() || run->managerAlive.expired())
                break;
            try {
                const FileCopier::Source file{child.url, child.size, child.modified};
                pipeline->inFlight.push_back(FileCopier::start(run, file, proposed, nextBase, covered, staging));
            } catch (...) {
                pipeline->failure = std::current_exception();
                break;
            }
            nextBase += child.size;
            continue;
        }
        if (!pipeline->inFlight.empty()) {
            async::Task<void> draining = settleUntil(run, pipeline, 0);
            co_await draining;
            if (pipeline->failure)
                break;
        }
        run->checkpoint();
        const ItemCopier::Item item{child.name, child.url, child.isDirectory,
                                    child.isDirectory ? std::nullopt : std::optional<quint64>(child.size),
                                    child.modified};
        async::Task<bool> copying = ItemCopier::copy(run, item, proposed, fresh);
        co_await copying;
        nextBase = run->bytesCopied;
    }
    async::Task<void> draining = settleUntil(run, pipeline, 0);
    co_await draining;
    if (pipeline->failure)
        std::rethrow_exception(pipeline->failure);
    run->checkpoint();
    if (forMoveRun(run))
        run->manager->recordCopiedFolder(run->id, source);
}

// A staging folder pays for itself from two files on: it costs a request to make and one to
// remove, and saves each file its look.
constexpr qsizetype stagedFilesAtLeast = 2;
// A device's paths hold 1,023 bytes at most; a partial copy in a staging folder is two levels
// below the folder: a slash and the staging folder's marked name of 41 bytes, a slash and the
// copy's name of 33.
constexpr qsizetype maxStagedFolderPathBytes = 1023 - 42 - 34;

// The staging folder of the files uploaded into a folder this run made and wrote down; none when
// they are too few, or the device would not make it (they then go by look and rename).
async::Task<std::shared_ptr<AFCStaging>> makeStaging(std::shared_ptr<TransferRun> run, URL source,
                                                     URL destination, const Children& children) {
    if (isDevice(source) || !isDevice(destination) || !run->placement->bridge() || *run->deviceRefusesLinks)
        co_return std::shared_ptr<AFCStaging>();
    const auto files = std::count_if(children.items.cbegin(), children.items.cend(),
                                     [](const Child& child) { return !child.isDirectory; });
    if (files < stagedFilesAtLeast)
        co_return std::shared_ptr<AFCStaging>();
    const AFCComponents components =
        TransferPlacement::deviceComponents(destination, QStringLiteral("Invalid afc destination URL: "));
    // Its partial copies' paths are longer than a short-named target's: near the device's limit on
    // a path's length they might not fit where the targets do.
    if (components.devicePath.toUtf8().size() > maxStagedFolderPathBytes)
        co_return std::shared_ptr<AFCStaging>();
    auto staging = std::make_shared<AFCStaging>();
    staging->folder =
        *AFCPath::child(components.devicePath, AFCPath::partialCopyName(run->placement->partialMark()));
    staging->noLinks = run->deviceRefusesLinks;
    // Never fails: the folder's entry in the journal is settled only once its copy has ended, and
    // whatever keeps the folder from being made here, that copy meets and reports.
    async::Task<void> opening = run->placement->openSession(components);
    async::detail::Outcome<void> made = co_await async::detail::settle(std::move(opening));
    if (!made.error()) {
        async::Task<void> making =
            run->placement->bridge()->makeDirectory(components.udid, staging->folder, components.bundleID);
        made = co_await async::detail::settle(std::move(making));
    }
    if (made.error()) {
        Logger::transfer().error("No staging folder in %s: %s", components.devicePath,
                                 TransferErrorMapping::fromException(made.error()).description());
        co_return std::shared_ptr<AFCStaging>();
    }
    co_return staging;
}

// Whether the staging folder is gone. It goes whatever ended the copy, cancelled included: it
// holds only second names of the files copied and partial copies.
async::Task<bool> removeStaging(std::shared_ptr<TransferRun> run, URL destination,
                                std::shared_ptr<AFCStaging> staging) {
    const AFCComponents components =
        TransferPlacement::deviceComponents(destination, QStringLiteral("Invalid afc destination URL: "));
    async::Task<void> removing =
        run->placement->bridge()->removeTree(components.udid, staging->folder, components.bundleID);
    async::detail::Outcome<void> removed = co_await async::detail::settle(std::move(removing));
    if (!removed.error())
        co_return true;
    Logger::transfer().error("Could not remove the staging folder %s: %s", staging->folder,
                             TransferErrorMapping::fromException(removed.error()).description());
    co_return false;
}

} // namespace

async::Task<void> FolderCopier::copyFolder(std::shared_ptr<TransferRun> run, URL source, URL destination) {
    async::Task<Children> listing = listChildren(run, source);
    const Children children = co_await listing;

    async::Task<bool> making = run->placement->makeFolder(destination);
    // A folder made just now is empty: its children need no look for what is already there (a
    // name that turns out taken after all is asked about when the copy is whole).
    const bool fresh = co_await making;
    run->checkpoint();
    if (!fresh) {
        async::Task<void> copying = copyChildren(run, source, destination, children, false, false, nullptr);
        co_await copying;
        co_return;
    }
    run->placement->noteCreated(destination);
    // Written down, so that the partial copies of its files need no entry of their own: should
    // the copy be cut off, the clean-up removes those (by their mark, and nothing else) from it.
    const LeftoverJournal::Entry entry = newFolderEntry(destination, run->placement->partialMark());
    async::Task<bool> noting = run->placement->journalBegin(entry);
    const bool noted = co_await noting;
    std::shared_ptr<AFCStaging> staging;
    if (noted) {
        async::Task<std::shared_ptr<AFCStaging>> making = makeStaging(run, source, destination, children);
        staging = co_await making;
    }
    async::Task<void> copying = copyChildren(run, source, destination, children, true, noted, staging);
    async::detail::Outcome<void> copied = co_await async::detail::settle(std::move(copying));
    bool stagingLeft = false;
    if (staging) {
        async::Task<bool> removing = removeStaging(run, destination, staging);
        stagingLeft = !co_await removing;
    }
    if (stagingLeft)
        ++run->stagingFoldersLeft;
    // Only a copy that ended whole, its staging folder gone, is known to have left nothing of its
    // own in the folder. Any other end (failed, cancelled, cut off) may have left a partial copy
    // its removal could not reach (a device that stopped answering): what is there is put right
    // now where the device answers, and otherwise the next session does it.
    if (noted && !copied.error() && !stagingLeft) {
        async::Task<void> striking = run->placement->journalFinished(entry);
        co_await striking;
    } else if (noted) {
        async::Task<void> settling = run->placement->journalSettled(entry);
        co_await settling;
    }
    if (copied.error())
        std::rethrow_exception(copied.error());
}

