// Moving items: a rename when source and destination share a side (and, on a device, a session),
// otherwise a copy that is awaited and then the deletion of exactly what it copied.

#include "transfer/TransferManager.h"

#include "device/AFCBridge.h"
#include "device/AFCComponents.h"
#include "device/AFCPath.h"
#include "platform/Error.h"
#include "platform/FileRename.h"
#include "platform/Logger.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Outcome.h"
#include "platform/async/Race.h"
#include "services/FileSystemProvider.h"
#include "transfer/LocalTransferFiles.h"
#include "transfer/MovedSourceCheck.h"
#include "transfer/PendingSources.h"
#include "transfer/TransferPlacement.h"
#include "transfer/TransferRun.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QVariant>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

bool isDevice(const URL& url) {
    return url.scheme() == QLatin1String("afc");
}

// A rename can only happen inside one file system of this computer, or inside one session of a
// device (its media area, or one app's container): anything else must be copied.
bool renameCanReach(const QList<FileItem>& items, const URL& destination) {
    if (destination.scheme().isEmpty())
        return false;
    const std::optional<AFCComponents> target = afcComponents(destination);
    for (const FileItem& item : items) {
        if (item.path().scheme() != destination.scheme())
            return false;
        if (isDevice(destination)) {
            const std::optional<AFCComponents> from = afcComponents(item.path());
            if (!target || !from || from->udid != target->udid || from->bundleID != target->bundleID)
                return false;
        }
    }
    return true;
}

// The same place whatever the spelling ("a//b/", "a/./b").
QString locationKey(const URL& url) {
    return url.scheme() + QLatin1String("://") + url.host() + TransferPlacement::normalizedPath(url.path());
}

// Moved items still at their old place as well: the move did not finish, though nothing is lost.
void throwIfLeftBehind(const QStringList& names) {
    if (!names.isEmpty())
        throw TransferError::ioError(QStringLiteral("Move delete phase failed for: ") +
                                     names.join(QStringLiteral(", ")));
}

bool isAtOrBelowKey(const QString& key, const QString& folderKey) {
    return key == folderKey ||
           key.startsWith(folderKey.endsWith(QLatin1Char('/')) ? folderKey : folderKey + QLatin1Char('/'));
}

} // namespace

void TransferManager::moveItemsInBackground(QList<FileItem> items, URL destination) {
    const std::weak_ptr<const bool> alive = m_alive;
    TransferManager* self = this;
    async::spawn([alive, self, items, destination](std::stop_token) -> async::Task<void> {
        if (alive.expired())
            co_return;
        async::Task<void> moving = self->moveItems(items, destination);
        async::detail::Outcome<void> moved = co_await async::detail::settle(std::move(moving));
        if (moved.error())
            Logger::transfer().error("Move failed: %s", async::describeException(moved.error()));
    });
}

async::Task<void> TransferManager::moveItems(QList<FileItem> items, URL destination) {
    if (items.isEmpty())
        co_return;
    const std::weak_ptr<const bool> alive = m_alive;
    QList<FileItem> toCopy = items;
    // What the rename road moved before it failed: those left their folder whatever the copy does.
    QList<FileItem> renamed;
    // An answer ticked "Apply to all" holds for the whole move, on the copy road too.
    ConflictPolicy policy;
    QStringList leftBehind;
    if (renameCanReach(items, destination)) {
        auto state = std::make_shared<DirectMoveState>();
        async::Task<void> moving = directMove(items, destination, state);
        async::detail::Outcome<void> moved = co_await async::detail::settle(std::move(moving));
        if (alive.expired())
            throw async::CancelledError{};
        if (!moved.error()) {
            postMoveNotifications(items, destination);
            throwIfLeftBehind(state->leftBehind);
            co_return;
        }
        // "Stop" ends the move: nothing more is moved, copied or deleted.
        if (async::detail::isCancellation(moved.error())) {
            if (!state->moved.isEmpty())
                postMoveNotifications(state->moved, destination);
            std::rethrow_exception(moved.error());
        }
        policy = state->policy;
        leftBehind = state->leftBehind;
        Logger::transfer().error("Direct move failed, falling back to copy+delete: %s",
                                 async::describeException(moved.error()));
        // What was renamed already is at the destination, and its source is gone: copying it
        // again would fail, or worse, find and delete something else. Everything else goes to the
        // copy, an item that is gone included: its copy fails as not found, so the move is
        // reported failed, with a record and a history entry, instead of done.
        renamed = state->moved;
        toCopy.clear();
        for (qsizetype index = 0; index < items.size(); ++index) {
            const FileItem item = items.at(index);
            if (!renamed.contains(item))
                toCopy.append(item);
        }
        if (toCopy.isEmpty()) {
            postMoveNotifications(items, destination);
            throwIfLeftBehind(leftBehind);
            co_return;
        }
    }

    // The copy deletes each source it took whole before it ends (deleteMovedSources): the
    // transfer shows, and Cancel reaches it, until the last source is gone.
    const Transfer transfer = startTransfer(toCopy, destination);
    m_moveCopies.insert(transfer.id);
    // Nothing yet: the finish fills it in.
    m_awaitedRecords.emplace(transfer.id);
    launchTask(transfer);
    if (const auto kept = m_conflictPolicies.find(transfer.id);
        kept != m_conflictPolicies.end() && policy.applyToAll)
        kept->applyToAll = policy.applyToAll;
    async::Task<void> waiting = awaitTransfer(transfer.id, std::nullopt, {});
    async::detail::Outcome<void> copied = co_await async::detail::settle(std::move(waiting));
    if (alive.expired())
        throw async::CancelledError{};
    m_moveCopies.remove(transfer.id);
    forgetAwaitedRecord(transfer.id);
    const QList<FileItem> removed = m_sourcesGone.take(transfer.id);
    if (copied.error()) {
        // Browsers still list what was renamed, and what the copy deleted before it ended, where
        // it was before.
        QList<FileItem> gone;
        for (const FileItem& item : std::as_const(items))
            if (renamed.contains(item) || removed.contains(item))
                gone.append(item);
        if (!gone.isEmpty())
            postMoveNotifications(gone, destination);
        std::rethrow_exception(copied.error());
    }
    postMoveNotifications(items, destination);
    throwIfLeftBehind(leftBehind);
}

async::Task<void> TransferManager::directMove(QList<FileItem> items, URL destination,
                                              std::shared_ptr<DirectMoveState> state) {
    const std::weak_ptr<const bool> alive = m_alive;
    const std::shared_ptr<TransferPlacement> placement = makePlacement(m_executor);
    const auto pending = std::make_shared<PendingSources>(items);
    for (qsizetype index = 0; index < items.size(); ++index) {
        const FileItem item = items.at(index);
        if (!AFCPath::isSafeName(item.name()))
            throw TransferError::ioError(QStringLiteral("Invalid item name \"%1\"").arg(item.name()));
        const URL target = destination.appendingPathComponent(item.name(), item.isDirectory());
        if (isSameLocation(item.path(), target))
            continue;
        // Deleted since it was shown: no clash at the destination is to be asked about for it.
        async::Task<std::optional<TransferPlacement::Facts>> finding = placement->inspectSource(item.path());
        const bool present = (co_await finding).has_value();
        if (alive.expired())
            throw async::CancelledError{};
        if (!present)
            throw sourceMissing(item);
        if (item.isDirectory()) {
            async::Task<bool> containing = placement->isAtOrBelow(target, item.path());
            const bool intoItself = co_await containing;
            if (alive.expired())
                throw async::CancelledError{};
            if (intoItself)
                throw TransferError::ioError(
                    QStringLiteral("Cannot move the folder \"%1\" into itself").arg(item.name()));
        }
        async::Task<bool> looking = itemExists(target);
        const bool exists = co_await looking;
        if (alive.expired())
            throw async::CancelledError{};
        URL finalURL = target;
        std::optional<TransferPlacement::Aside> aside;
        if (exists) {
            async::Task<bool> checking = isDirectory(target);
            const bool targetIsFolder = co_await checking;
            if (alive.expired())
                throw async::CancelledError{};
            // A rename onto a folder would replace it (or fail only by luck of its contents):
            // merging is the copy road's work.
            if (item.isDirectory() && targetIsFolder)
                throw TransferError::ioError(
                    QStringLiteral("A folder \"%1\" is already there; it is merged by copying")
                        .arg(item.name()));
            ConflictResolution resolution = ConflictResolution::stop;
            if (state->policy.applyToAll) {
                resolution = *state->policy.applyToAll;
            } else {
                async::Task<ConflictAnswer> asking = promptConflictResolution(item.name());
                const ConflictAnswer answer = co_await asking;
                if (alive.expired())
                    throw async::CancelledError{};
                resolution = answer.resolution;
                if (answer.applyToAll)
                    state->policy.applyToAll = answer.resolution;
            }
            switch (resolution) {
            case ConflictResolution::stop:
                throw async::CancelledError{};
            case ConflictResolution::keepBoth: {
                async::Task<URL> naming = uniqueDestination(target);
                finalURL = co_await naming;
                if (alive.expired())
                    throw async::CancelledError{};
                break;
            }
            case ConflictResolution::replace: {
                // Never remove the item itself, or a folder holding it, to make room for it.
                async::Task<bool> holding = placement->isAtOrBelow(item.path(), target);
                const bool holdsItem = co_await holding;
                if (alive.expired())
                    throw async::CancelledError{};
                if (holdsItem)
                    throw TransferError::ioError(
                        QStringLiteral("Cannot replace \"%1\" with an item inside it").arg(item.name()));
                // Nor another item of the move before its turn.
                async::Task<std::optional<PendingSources::Clash>> checking =
                    pending->clashWith(placement, target);
                const std::optional<PendingSources::Clash> clash = co_await checking;
                if (alive.expired())
                    throw async::CancelledError{};
                if (clash)
                    throw TransferError::ioError(PendingSources::refusal(target.lastPathComponent(), *clash));
                // The old item waits aside until the moved one has its name.
                async::Task<TransferPlacement::Aside> setting = placement->setAside(target);
                aside = co_await setting;
                break;
            }
            }
        }
        async::Task<bool> renaming = moveOne(item, finalURL);
        async::detail::Outcome<bool> moved = co_await async::detail::settle(std::move(renaming));
        if (aside) {
            async::Task<void> settling = placement->settleAside(*aside, !moved.error());
            co_await settling;
        }
        if (moved.error())
            std::rethrow_exception(moved.error());
        if (alive.expired())
            throw async::CancelledError{};
        state->moved.append(item);
        if (moved.get())
            state->leftBehind.append(item.name());
        pending->take(index);
    }
}

async::Task<bool> TransferManager::moveOne(FileItem item, URL target) {
    if (isDevice(item.path())) {
        if (!m_afcBridge || !afcComponents(item.path()) || !afcComponents(target))
            throw TransferError::ioError(QStringLiteral("AFC bridge not available"));
        // A device's rename replaces what it meets, and a look first leaves a moment for another
        // program to write there: a file takes its new name by a link, which the device refuses
        // for a taken name, and then loses the old one. A folder takes no link: it is looked for.
        const std::shared_ptr<TransferPlacement> placement = makePlacement(m_executor);
        if (item.isDirectory()) {
            async::Task<void> renaming = placement->rename(item.path(), target);
            co_await renaming;
            co_return false;
        }
        async::Task<bool> renaming = placement->putBack(item.path(), target);
        const bool oldNameStays = co_await renaming;
        if (oldNameStays)
            Logger::transfer().error("Moved %s to %s, but it is still at its old place too",
                                     item.path().absoluteString(), target.absoluteString());
        co_return oldNameStays;
    }
    const std::shared_ptr<async::SerialExecutor> executor = m_executor;
    async::Task<void> renaming = executor->run([from = item.path().toLocalFile(), to = target.toLocalFile()] {
        // Never over something that appeared since we looked: that would lose it.
        if (const int error = renameWithoutReplacing(QFile::encodeName(from), QFile::encodeName(to)); error != 0)
            throw FileError(error, QStringLiteral("move"), from);
    });
    co_await renaming;
    co_return false;
}

async::Task<void> TransferManager::deleteMovedSources(std::shared_ptr<TransferRun> run, QList<FileItem> items,
                                                     URL destination) {
    const RunState done = m_runStates.value(run->id);
    // A copy closed on this computer may still be in memory only: a power cut, or a stick pulled,
    // right after the sources went would leave neither. Every file system the copies went to is
    // flushed once, before the first source goes.
    if (!isDevice(destination)) {
        // The copies' folders are gathered on the executor too: a camera roll's report is a pass of
        // a hundred thousand lines.
        async::Task<void> flushing = run->placement->executor().run(
            [first = destination.toLocalFile(), entries = done.reportEntries] {
                QStringList folders{first};
                QSet<QString> seen{first};
                for (const TransferReportEntry& entry : entries) {
                    const URL copied = entry.destinationURL();
                    if (isDevice(copied))
                        continue;
                    const QString folder = copied.deletingLastPathComponent().toLocalFile();
                    if (!seen.contains(folder)) {
                        seen.insert(folder);
                        folders.append(folder);
                    }
                }
                LocalTransferFiles::flushFileSystems(folders);
            });
        async::detail::Outcome<void> flushed = co_await async::detail::settle(std::move(flushing));
        run->checkpoint();
        if (flushed.error()) {
            Logger::transfer().error("Could not flush the moved items: %s",
                                     async::describeException(flushed.error()));
            throw TransferError::ioError(
                QStringLiteral("The copies could not be written to the disk; nothing was deleted"));
        }
    }
    // Only files whose copy is whole and did not fail its check may go; a file the copy skipped
    // (already in place) or did not take has no entry and stays.
    QSet<QString> rejected;
    for (const TransferReportEntry& entry : done.reportEntries) {
        const QString key = locationKey(entry.sourceURL());
        if (entry.verificationOutcome() == TransferVerificationOutcome::mismatch ||
            entry.verificationOutcome() == TransferVerificationOutcome::failed)
            rejected.insert(key);
    }
    // Each copied file once, in the report's order, with its location key: looked up by key for
    // a file item, so that a move of a camera roll's photos costs a lookup a photo, not a pass
    // over every other photo.
    QList<std::pair<QString, URL>> copiedFiles;
    QHash<QString, QList<URL>> copiedByKey;
    QSet<QString> listed;
    for (const TransferReportEntry& entry : done.reportEntries) {
        const URL url = entry.sourceURL();
        const QString key = locationKey(url);
        if (rejected.contains(key) || listed.contains(url.absoluteString()))
            continue;
        listed.insert(url.absoluteString());
        copiedFiles.append({key, url});
        copiedByKey[key].append(url);
    }

    const std::shared_ptr<AFCBridge> bridge = m_afcBridge;
    const std::shared_ptr<TransferPlacement> placement = run->placement;
    const auto numbersKept = std::make_shared<QHash<quint64, bool>>();
    QStringList failedNames;
    for (qsizetype index = 0; index < items.size(); ++index) {
        const FileItem item = items.at(index);
        const QString itemKey = locationKey(item.path());
        QList<URL> files;
        if (item.isDirectory()) {
            for (const std::pair<QString, URL>& file : std::as_const(copiedFiles)) {
                if (isAtOrBelowKey(file.first, itemKey))
                    files.append(file.second);
            }
        } else {
            files = copiedByKey.value(itemKey);
        }
        QList<URL> folders;
        if (item.isDirectory()) {
            for (const URL& url : done.copiedFolders)
                if (isAtOrBelowKey(locationKey(url), itemKey))
                    folders.append(url);
        }
        bool hasRejected = !item.isDirectory() && rejected.contains(itemKey);
        if (item.isDirectory()) {
            for (const QString& key : std::as_const(rejected))
                hasRejected = hasRejected || isAtOrBelowKey(key, itemKey);
        }
        if (files.isEmpty() && folders.isEmpty() && !hasRejected)
            continue; // the copy found it already in place: nothing was copied, nothing goes

        std::exception_ptr failure;
        if (hasRejected)
            failure = std::make_exception_ptr(
                TransferError::ioError(QStringLiteral("its copy did not pass the check")));
        // Files first, then the folders the copy made whole, innermost first; a folder is removed
        // only when empty, so whatever the copy did not take keeps its folder.
        QList<std::pair<URL, bool>> removals;
        for (const URL& url : files)
            removals.append({url, false});
        for (const URL& url : folders)
            removals.append({url, true});
        bool removedSome = false;
        for (qsizetype step = 0; step < removals.size() && !failure; ++step) {
            const URL url = removals.at(step).first;
            const bool folder = removals.at(step).second;
            // Under the transfer's Cancel like its copies: a device that stops answering here has
            // its connection cut.
            if (!folder) {
                // A file saved again since its copy read it is not what was copied: it stays.
                const QString shown =
                    item.isDirectory() ? item.name() + locationKey(url).mid(itemKey.size()) : item.name();
                const MovedSourceCheck::Copied copied = done.copiedSources.value(url.absoluteString());
                async::Task<void> removal =
                    MovedSourceCheck::removeUnchanged(placement, url, copied, shown, numbersKept);
                async::detail::Outcome<void> removed = co_await async::detail::settle(std::move(removal));
                failure = removed.error();
            } else if (isDevice(url)) {
                // A folder goes only once empty, so one that gained an item stays too.
                const std::optional<AFCComponents> parts = afcComponents(url);
                if (!bridge || !parts) {
                    failure = std::make_exception_ptr(
                        TransferError::ioError(QStringLiteral("AFC bridge not available")));
                    break;
                }
                async::Task<void> removal =
                    placement->bridge()->removeItem(parts->udid, parts->devicePath, parts->bundleID);
                async::detail::Outcome<void> removed = co_await async::detail::settle(std::move(removal));
                failure = removed.error();
            } else {
                async::Task<void> removal = placement->executor().run([path = url.toLocalFile()] {
                    const QByteArray native = QFile::encodeName(path);
                    if (::unlinkat(AT_FDCWD, native.constData(), AT_REMOVEDIR) != 0)
                        throw FileError::fromErrno(QStringLiteral("delete"), path);
                });
                async::detail::Outcome<void> removed = co_await async::detail::settle(std::move(removal));
                failure = removed.error();
            }
            run->ensureManager();
            // Browsers are told of it however the move ends.
            if (!failure && !std::exchange(removedSome, true))
                m_sourcesGone[run->id].append(item);
            // A removal that a Cancel cut short failed because of it: the move is cancelled.
            run->checkpoint();
        }
        if (item.isDirectory() && !failure && folders.isEmpty())
            failure = std::make_exception_ptr(
                TransferError::ioError(QStringLiteral("the copy did not take the whole folder")));
        if (failure) {
            failedNames.append(item.name());
            Logger::transfer().error("Move delete failed for %s: %s", item.name(),
                                     async::describeException(failure));
        }
    }
    if (!failedNames.isEmpty())
        throw TransferError::ioError(QStringLiteral("Move delete phase failed for: ") +
                                     failedNames.join(QStringLiteral(", ")));
}

void TransferManager::postMoveNotifications(const QList<FileItem>& items, const URL& destination) {
    if (m_fileSystemProvider)
        m_fileSystemProvider->invalidateCache();
    if (isDevice(destination))
        m_notifications.post(Notification{afcFilesUploaded, {}});
    const bool fromDevice =
        std::any_of(items.begin(), items.end(), [](const FileItem& item) { return isDevice(item.path()); });
    if (fromDevice) {
        QVariantMap info;
        info.insert(QStringLiteral("items"), QVariant::fromValue(items));
        m_notifications.post(Notification{afcFilesDeleted, info});
    }
}
