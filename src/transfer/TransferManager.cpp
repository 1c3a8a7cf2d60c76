#include "transfer/TransferManager.h"

#include "device/AFCBridge.h"
#include "device/AFCPath.h"
#include "models/FileKind.h"
#include "platform/ByteCountFormatter.h"
#include "platform/Logger.h"
#include "platform/UniformType.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "platform/async/MainThread.h"
#include "platform/async/Outcome.h"
#include "platform/async/Race.h"
#include "platform/async/SystemContinuousClock.h"
#include "services/FileSystemProvider.h"
#include "services/PreferencesViewController.h"
#include "transfer/FileCopier.h"
#include "transfer/FolderCopier.h"
#include "transfer/ItemCopier.h"
#include "transfer/LocalTransferFiles.h"
#include "transfer/TransferErrorMapping.h"
#include "transfer/TransferPlacement.h"
#include "transfer/TransferReportWriter.h"
#include "transfer/TransferRun.h"

#include <QFile>

#include <limits>
#include <sys/stat.h>

namespace {

// Coroutines of the manager call this after every wait, before they touch the manager again.
void checkAlive(const std::weak_ptr<const bool>& alive, const std::stop_token& token) {
    if (alive.expired())
        throw async::CancelledError{};
    async::throwIfCancelled(token);
}

std::optional<UniformType> dataTypeFor(const URL& url) {
    const QString extension = url.pathExtension();
    if (extension.isEmpty())
        return std::nullopt;
    return UniformType::forFilenameExtension(extension);
}

// What the failure log says: a sentence, not the debugging form the history stores. A device or
// file error says it in its own words; the engine's own errors in the alert's, or by their message.
QString readableFailure(const std::exception_ptr& failure, const TransferError& error) {
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const TransferError&) {
        } catch (...) {
            return async::describeException(failure);
        }
    }
    if (error.errorCase() == TransferError::Case::ioError)
        return error.message();
    return transferFailedAlertText(error, QString());
}

// Counts a transfer task among the running ones for as long as it lives.
class RunningTask {
public:
    explicit RunningTask(std::shared_ptr<int> count) : m_count(std::move(count)) { ++*m_count; }
    ~RunningTask() { --*m_count; }
    RunningTask(const RunningTask&) = delete;
    RunningTask& operator=(const RunningTask&) = delete;

private:
    std::shared_ptr<int> m_count;
};

} // namespace

TransferError TransferManager::sourceMissing(const FileItem& item) {
    return TransferError::fileNotFound(
        QStringLiteral("\"%1\" is no longer there: %2").arg(item.name(), item.path().absoluteString()));
}

TransferManager::TransferManager()
    : TransferManager(PreferencesViewController::defaults(), async::SystemContinuousClock::shared(),
                      NotificationCenter::defaultCenter()) {}

TransferManager::TransferManager(UserDefaults& defaults, async::ContinuousClock& clock,
                                 NotificationCenter& notifications)
    : m_defaults(defaults), m_clock(clock), m_notifications(notifications), m_history(defaults),
      m_throttle(clock, [this](const QUuid& id, quint64 value) { writeProgress(id, value); }), m_speed(clock),
      m_executor(std::make_shared<async::SerialExecutor>(QStringLiteral("TransferManager"))),
      m_sourceHashing{std::make_shared<async::SerialExecutor>(QStringLiteral("TransferHash")),
                      std::make_shared<async::SerialExecutor>(QStringLiteral("TransferHashRead"))},
      m_copyHashing{std::make_shared<async::SerialExecutor>(QStringLiteral("TransferHash")),
                    std::make_shared<async::SerialExecutor>(QStringLiteral("TransferHashRead"))} {
    loadHistory();
}

TransferManager::~TransferManager() {
    // Reports and a history still being written are written now, and their waiters woken:
    // nothing is lost.
    if (!m_unwrittenReports.isEmpty())
        writeUnwrittenReports();
    if (!m_wakeAfterSave.isEmpty())
        saveHistory();
    m_alive.reset();
    for (const async::TaskHandle<void>& task : std::as_const(m_transferTasks))
        task.cancel();
    for (const async::TaskHandle<void>& watch : std::as_const(m_speedWatches))
        watch.cancel();
}

void TransferManager::setFileSystemProvider(std::shared_ptr<FileSystemProvider> provider) {
    m_fileSystemProvider = std::move(provider);
}

// ---------------------------------------------------------------------------------------------
// Starting, running, cancelling, finishing

Transfer TransferManager::startTransfer(QList<FileItem> sources, URL destination) {
    quint64 total = 0;
    for (const FileItem& source : sources)
        total = source.size() > std::numeric_limits<quint64>::max() - total
                    ? std::numeric_limits<quint64>::max()
                    : total + source.size();
    Transfer transfer;
    transfer.id = QUuid::createUuid();
    transfer.progress.totalBytes = total;
    transfer.progress.totalFiles = sources.size();
    transfer.sources = std::move(sources);
    transfer.destination = std::move(destination);
    transfer.state = TransferState::queued;
    transfer.startedAt = Date::now();
    transfer.verificationSummary.requested = PreferencesViewController::verifyTransfers();
    m_active.append(transfer);
    publishActive();
    return transfer;
}

void TransferManager::launchTask(const Transfer& transfer) {
    const QUuid id = transfer.id;
    m_conflictPolicies.insert(id, ConflictPolicy{});
    // spawn keeps the lambda, and with it the record and the count, alive until the task ends.
    async::TaskHandle<void> handle =
        async::spawn([this, transfer, count = m_runningTasks](std::stop_token token) -> async::Task<void> {
            const RunningTask running(count);
            async::Task<void> body = runTransfer(transfer, token);
            co_await std::move(body);
        });
    m_transferTasks.insert(id, handle);
}

void TransferManager::cancelAllTransfers() {
    const QList<Transfer> running = m_active;
    for (const Transfer& transfer : running)
        cancelTransfer(transfer.id);
}

Transfer TransferManager::startTransfer(QList<URL> urls, URL to) {
    QList<FileItem> items;
    items.reserve(urls.size());
    for (const URL& url : urls)
        items.append(itemForLocalURL(url));
    Transfer transfer = startTransfer(std::move(items), std::move(to));
    launchTask(transfer);
    return transfer;
}

FileItem TransferManager::itemForLocalURL(const URL& url) const {
    struct stat st {};
    const bool read = ::stat(QFile::encodeName(url.toLocalFile()).constData(), &st) == 0;
    const bool folder = read && S_ISDIR(st.st_mode);
    const quint64 size = read && S_ISREG(st.st_mode) ? quint64(st.st_size) : 0;
    const Date modified = read ? LocalTransferFiles::dateOf(st.st_mtim) : Date::now();
    const std::optional<UniformType> uti = dataTypeFor(url);
    return FileItem(url.absoluteString(), url.lastPathComponent(), url, folder, size, modified,
                    folder ? FileKind(FileKind::folder) : FileKind::fromUTI(uti), uti);
}

void TransferManager::cancelTransfer(QUuid id) {
    const auto task = m_transferTasks.constFind(id);
    const bool running = task != m_transferTasks.constEnd() && !task->isFinished();
    if (running)
        task->cancel();
    updateActive(id, [](Transfer& record) {
        record.state = TransferState::cancelled;
        record.completedAt = Date::now();
    });
    // A running task ends the record itself once it has stopped: a file it completes meanwhile
    // is reported, and a move deletes nothing its report does not hold.
    if (!running)
        finishTransfer(id);
}

async::Task<void> TransferManager::runTransfer(Transfer transfer, std::stop_token token) {
    const std::weak_ptr<const bool> alive = m_alive;
    const QUuid id = transfer.id;
    // Cancelled before its task began: there is nothing left to run for.
    if (!activeRecord(id) || token.stop_requested()) {
        finishTransfer(id);
        co_return;
    }
    updateActive(id, [](Transfer& record) { record.state = TransferState::active; });
    Logger::transfer().info("Starting transfer: %ld items to %s", transfer.sources.size(),
                            transfer.destination.absoluteString());

    auto run = std::make_shared<TransferRun>();
    run->id = id;
    run->token = token;
    run->manager = this;
    run->managerAlive = alive;
    // Each transfer has its own thread for work on this computer, so a long local copy of one
    // never holds up the others.
    run->placement =
        makePlacement(std::make_shared<async::SerialExecutor>(QStringLiteral("Transfer")), token);
    run->placement->expectCreated(transfer.sources.size(), transfer.destination);
    run->pendingSources = std::make_shared<PendingSources>(transfer.sources);
    // A move deletes its sources only once all are copied: until then each is still its own.
    const bool takenWhenCopied = !isMoveCopy(id);
    m_runStates.insert(id, RunState{});

    qint64 itemsDone = 0;
    std::exception_ptr failure;
    QString failedName;
    for (qsizetype index = 0; index < transfer.sources.size(); ++index) {
        if (token.stop_requested())
            break;
        const FileItem source = transfer.sources.at(index);
        updateActive(id, [&source](Transfer& record) { record.progress.currentFile = source.name(); });
        const URL proposed = transfer.destination.appendingPathComponent(source.name());
        async::Task<bool> copying = copySource(run, source, proposed);
        async::detail::Outcome<bool> outcome = co_await async::detail::settle(std::move(copying));
        if (alive.expired())
            co_return;
        if (outcome.error()) {
            failure = outcome.error();
            failedName = source.name();
            break;
        }
        ++itemsDone;
        if (takenWhenCopied)
            run->pendingSources->take(index);
        const quint64 copied = run->bytesCopied;
        updateActive(id, [itemsDone, copied](Transfer& record) {
            record.progress.filesCompleted = itemsDone;
            record.progress.bytesTransferred = copied;
        });
        // The item's total is newer than any value of its copy still waiting out the throttle.
        m_throttle.dropKept(id);
        if (outcome.get())
            Logger::transfer().debug("Skipped no-op transfer for %s", source.name());
        else
            Logger::transfer().info("Completed: %s", source.name());
    }

    // A move's sources go before its record ends: it shows, and Cancel reaches it, until the last
    // one is gone, and a source that would not go fails it.
    if (!failure && !token.stop_requested() && isMoveCopy(id) &&
        m_runStates.value(id).unreadableNames.isEmpty()) {
        async::Task<void> deleting = deleteMovedSources(run, transfer.sources, transfer.destination);
        async::detail::Outcome<void> deleted = co_await async::detail::settle(std::move(deleting));
        if (alive.expired())
            co_return;
        if (deleted.error()) {
            failure = deleted.error();
            const Transfer* record = activeRecord(id);
            failedName = record ? record->progress.currentFile : QString();
        }
    }

    const quint64 copied = run->bytesCopied;
    const QStringList unreadable = m_runStates.value(id).unreadableNames;
    if ((failure && async::detail::isCancellation(failure)) || token.stop_requested()) {
        Logger::transfer().info("Transfer cancelled");
        updateActive(id, [copied](Transfer& record) {
            record.state = TransferState::cancelled;
            record.completedAt = Date::now();
            record.progress.bytesTransferred = copied;
        });
        endRun(id, transfer.destination);
        co_return;
    }
    if (failure || !unreadable.isEmpty()) {
        // Items that could not be read were not copied: the transfer did not do all it was asked.
        const TransferError error =
            failure
                ? transferError(failure)
                : TransferError::ioError(QStringLiteral("%1 items could not be read and were not copied: %2")
                                             .arg(unreadable.size())
                                             .arg(unreadable.join(QStringLiteral(", "))));
        const Transfer* record = activeRecord(id);
        const QString name = failure ? failedName : record ? record->progress.currentFile : QString();
        Logger::transfer().error("Transfer failed for %s: %s", name, readableFailure(failure, error));
        updateActive(id, [error, copied](Transfer& record) {
            record.state = TransferState::failed;
            record.error = error;
            record.completedAt = Date::now();
            record.progress.bytesTransferred = copied;
        });
        finishTransfer(id);
        co_return;
    }
    if (token.stop_requested()) {
        updateActive(id, [copied](Transfer& record) {
            record.state = TransferState::cancelled;
            record.completedAt = Date::now();
            record.progress.bytesTransferred = copied;
        });
    } else {
        updateActive(id, [copied](Transfer& record) {
            record.state = TransferState::completed;
            record.completedAt = Date::now();
            record.progress.bytesTransferred = copied;
        });
        Logger::transfer().info("Transfer complete: %ld items, %s", itemsDone,
                                ByteCountFormatter::file(copied));
    }
    endRun(id, transfer.destination);
}

async::Task<bool> TransferManager::copySource(std::shared_ptr<TransferRun> run, FileItem source,
                                              URL proposed) {
    // The name becomes one path component at the destination: it must not reach anywhere else.
    if (!AFCPath::isSafeName(source.name()))
        throw TransferError::ioError(QStringLiteral("Invalid item name \"%1\"").arg(source.name()));
    // What was shown (and dropped) may have been deleted since. Looked at before the destination,
    // so that no clash is asked about, and nothing there removed, for an item that is not there.
    async::Task<std::optional<TransferPlacement::Facts>> looking = run->placement->inspectSource(source.path());
    const std::optional<TransferPlacement::Facts> present = co_await looking;
    run->checkpoint();
    if (!present)
        throw sourceMissing(source);
    const ItemCopier::Item item{source.name(), source.path(), source.isDirectory(), std::nullopt,
                                std::nullopt};
    async::Task<bool> copying = ItemCopier::copy(run, item, proposed);
    co_return co_await copying;
}

void TransferManager::endRun(const QUuid& id, const URL& destination) {
    if (m_fileSystemProvider)
        m_fileSystemProvider->invalidateCache();
    if (destination.scheme() == QLatin1String("afc"))
        m_notifications.post(Notification{afcFilesUploaded, {}});
    finishTransfer(id);
}

async::Task<void> TransferManager::waitForTransfer(QUuid id) {
    if (activeRecord(id)) {
        auto park = [this, id](async::Continuation<void> continuation) {
            m_completionContinuations[id].append(std::move(continuation));
        };
        co_await async::withContinuation<void>(park);
        co_return;
    }
    for (const Transfer& record : completedTransfers.value()) {
        if (record.id == id) {
            const std::exception_ptr result = completionResult(record);
            if (!m_wakeAfterSave.isEmpty()) {
                // Finished, but the history that holds it is still being written: the wait ends
                // once it is stored, as for a waiter that came before the finish.
                const quint64 save = m_historySaves;
                auto park = [this, save, result](async::Continuation<void> continuation) {
                    m_wakeAfterSave.append(Wake{save, {std::move(continuation)}, result});
                };
                co_await async::withContinuation<void>(park);
                co_return;
            }
            if (result)
                std::rethrow_exception(result);
            co_return;
        }
    }
}

std::exception_ptr TransferManager::completionResult(const Transfer& transfer) {
    if (transfer.state == TransferState::cancelled)
        return std::make_exception_ptr(async::CancelledError{});
    if (transfer.error)
        return std::make_exception_ptr(*transfer.error);
    return nullptr;
}

TransferError TransferManager::transferError(std::exception_ptr error) {
    return TransferErrorMapping::fromException(error);
}

async::Task<void> TransferManager::retryTransfer(TransferHistoryEntry entry) {
    const std::weak_ptr<const bool> alive = m_alive;
    const std::optional<URL> destination = URL::fromString(entry.destinationURLString());
    if (!destination)
        co_return;
    QList<FileItem> items;
    for (qsizetype index = 0; index < entry.sources().size(); ++index) {
        const TransferHistorySource source = entry.sources().at(index);
        async::Task<std::optional<FileItem>> rebuilding = rebuildItem(source);
        std::optional<FileItem> item = co_await rebuilding;
        if (alive.expired())
            co_return;
        if (!item) {
            const std::optional<URL> url = URL::fromString(source.urlString());
            if (!url)
                continue;
            std::optional<UniformType> uti;
            if (source.utiIdentifier())
                uti = UniformType::fromIdentifier(*source.utiIdentifier());
            std::optional<FileKind> kind = FileKind::fromRawValue(source.kindRawValue());
            if (!kind)
                kind = source.isDirectory() ? FileKind(FileKind::folder) : FileKind::fromUTI(uti);
            item = FileItem(url->absoluteString(), source.name(), *url, source.isDirectory(), source.size(),
                            source.modifiedDate(), *kind, uti);
        }
        items.append(*item);
    }
    if (items.isEmpty()) {
        Logger::transfer().info("Nothing to retry");
        if (m_beep)
            m_beep();
        co_return;
    }
    const Transfer transfer = startTransfer(items, *destination);
    launchTask(transfer);
}

async::Task<std::optional<FileItem>> TransferManager::rebuildItem(TransferHistorySource source) {
    const std::optional<URL> url = URL::fromString(source.urlString());
    if (!url)
        co_return std::nullopt;
    if (url->scheme() == QLatin1String("afc")) {
        const std::shared_ptr<FileSystemProvider> provider = m_fileSystemProvider;
        if (!provider)
            co_return std::nullopt;
        async::Task<FileItem> asking = provider->afcItem(*url);
        async::detail::Outcome<FileItem> item = co_await async::detail::settle(std::move(asking));
        if (item.error())
            co_return std::nullopt;
        co_return item.get();
    }
    const std::shared_ptr<async::SerialExecutor> executor = m_executor;
    async::Task<std::optional<LocalTransferFiles::Facts>> reading =
        executor->run([path = url->toLocalFile()]() -> std::optional<LocalTransferFiles::Facts> {
            try {
                return LocalTransferFiles::inspect(path);
            } catch (const FileError&) {
                return std::nullopt;
            }
        });
    const std::optional<LocalTransferFiles::Facts> facts = co_await reading;
    const bool folder = facts ? facts->isDirectory : source.isDirectory();
    const std::optional<UniformType> uti = folder ? std::nullopt : dataTypeFor(*url);
    co_return FileItem(url->absoluteString(), url->lastPathComponent(), *url, folder,
                       facts ? facts->size : source.size(), facts ? facts->modified : source.modifiedDate(),
                       folder ? FileKind(FileKind::folder) : FileKind::fromUTI(uti), uti);
}

// ---------------------------------------------------------------------------------------------
// Placement

std::shared_ptr<TransferPlacement>
TransferManager::makePlacement(std::shared_ptr<async::SerialExecutor> executor, std::stop_token token) const {
    return std::make_shared<TransferPlacement>(m_afcBridge, m_fileSystemProvider, std::move(executor),
                                               std::move(token), m_timers);
}

bool TransferManager::isSameLocation(const URL& first, const URL& second) {
    return TransferPlacement::isSameLocation(first, second);
}

QString TransferManager::normalizedPath(const QString& path) {
    return TransferPlacement::normalizedPath(path);
}

async::Task<URL> TransferManager::resolveConflict(FileItem item, URL destination,
                                                  std::optional<QUuid> transferID, std::stop_token token) {
    async::Task<Placement> placing =
        resolvePlacement(makePlacement(m_executor, token), item.name(), item.path(), item.isDirectory(),
                         destination, transferID, false, nullptr, token);
    const Placement placement = co_await placing;
    co_return placement.url;
}

async::Task<TransferManager::Placement> TransferManager::place(std::shared_ptr<TransferRun> run, QString name,
                                                               URL source, bool isDirectory, URL proposed) {
    async::Task<Placement> placing = resolvePlacement(run->placement, name, source, isDirectory, proposed,
                                                      run->id, true, run->pendingSources, run->token);
    co_return co_await placing;
}

async::Task<TransferManager::Placement>
TransferManager::resolvePlacement(std::shared_ptr<TransferPlacement> placement, QString name, URL source,
                                  bool isDirectory, URL proposed, std::optional<QUuid> transferID,
                                  bool setAside, std::shared_ptr<PendingSources> pending,
                                  std::stop_token token) {
    const std::weak_ptr<const bool> alive = m_alive;
    async::Task<bool> comparing = placement->isSameItem(source, proposed);
    const bool same = co_await comparing;
    checkAlive(alive, token);
    if (same)
        co_return Placement{proposed, true, std::nullopt};

    if (isDirectory) {
        async::Task<bool> containing = placement->isAtOrBelow(proposed, source);
        const bool intoItself = co_await containing;
        checkAlive(alive, token);
        if (intoItself)
            throw TransferError::ioError(
                QStringLiteral("Cannot copy the folder \"%1\" into itself").arg(name));
    }

    async::Task<std::optional<TransferPlacement::Facts>> looking = placement->inspect(proposed);
    const std::optional<TransferPlacement::Facts> existing = co_await looking;
    checkAlive(alive, token);
    if (!existing)
        co_return Placement{proposed, false, std::nullopt};
    if (isDirectory && existing->isDirectory)
        co_return Placement{proposed, false, std::nullopt};

    std::optional<ConflictResolution> resolution;
    // What this transfer made itself is never offered for replacing: the item gets a free name,
    // as if "Keep Both" had been answered, and nothing is asked.
    async::Task<bool> ours = placement->isCreatedHere(proposed);
    if (co_await ours)
        resolution = ConflictResolution::keepBoth;
    checkAlive(alive, token);
    if (!resolution && transferID) {
        if (const auto policy = m_conflictPolicies.constFind(*transferID);
            policy != m_conflictPolicies.constEnd())
            resolution = policy->applyToAll;
    }
    if (!resolution) {
        if (transferID)
            pauseSpeed(*transferID);
        async::Task<ConflictAnswer> asking = promptConflictResolution(name, token);
        const ConflictAnswer answer = co_await asking;
        checkAlive(alive, token);
        if (transferID)
            pauseSpeed(*transferID);
        resolution = answer.resolution;
        if (answer.applyToAll && transferID) {
            if (const auto policy = m_conflictPolicies.find(*transferID); policy != m_conflictPolicies.end())
                policy->applyToAll = answer.resolution;
        }
    }

    switch (*resolution) {
    case ConflictResolution::stop:
        throw async::CancelledError{};
    case ConflictResolution::keepBoth: {
        async::Task<URL> naming = placement->uniqueDestination(proposed);
        const URL free = co_await naming;
        checkAlive(alive, token);
        co_return Placement{free, false, std::nullopt};
    }
    case ConflictResolution::replace:
        break;
    }

    // Never remove the item being copied, nor a folder that holds it, to make room for it.
    async::Task<bool> holding = placement->isAtOrBelow(source, proposed);
    const bool holdsSource = co_await holding;
    checkAlive(alive, token);
    if (holdsSource)
        throw TransferError::ioError(
            QStringLiteral("Cannot replace \"%1\" with an item inside it").arg(name));
    // Nor another item of the transfer before its turn, whatever was answered for all: it would be
    // gone, and its name would carry other bytes to where it was to go.
    if (pending) {
        async::Task<std::optional<PendingSources::Clash>> checking = pending->clashWith(placement, proposed);
        const std::optional<PendingSources::Clash> clash = co_await checking;
        checkAlive(alive, token);
        if (clash)
            throw TransferError::ioError(PendingSources::refusal(proposed.lastPathComponent(), *clash));
    }
    if (!setAside) {
        async::Task<void> removing = placement->removeItem(proposed);
        co_await removing;
        checkAlive(alive, token);
        co_return Placement{proposed, false, std::nullopt};
    }
    // The old item is never removed before its replacement is whole: it waits under a hidden name.
    async::Task<TransferPlacement::Aside> moving = placement->setAside(proposed);
    const TransferPlacement::Aside aside = co_await moving;
    if (alive.expired() || token.stop_requested()) {
        async::Task<void> restoring = placement->settleAside(aside, false);
        co_await restoring;
        throw async::CancelledError{};
    }
    co_return Placement{proposed, false, aside};
}

async::Task<ConflictAnswer> TransferManager::promptConflictResolution(QString itemName,
                                                                      std::stop_token token) {
    const std::shared_ptr<ConflictPrompter> prompter = m_prompter;
    if (!prompter) {
        Logger::transfer().error("Nobody to ask about the name clash of %s; stopping the transfer", itemName);
        co_return ConflictAnswer{ConflictResolution::stop, false};
    }
    async::Task<ConflictAnswer> asking = prompter->ask(itemName, token);
    co_return co_await asking;
}

async::Task<bool> TransferManager::itemExists(URL url) {
    const std::shared_ptr<TransferPlacement> placement = makePlacement(m_executor);
    async::Task<std::optional<TransferPlacement::Facts>> looking = placement->inspect(url);
    const std::optional<TransferPlacement::Facts> facts = co_await looking;
    co_return facts.has_value();
}

async::Task<bool> TransferManager::isDirectory(URL url) {
    const std::shared_ptr<TransferPlacement> placement = makePlacement(m_executor);
    async::Task<std::optional<TransferPlacement::Facts>> looking = placement->inspect(url);
    async::detail::Outcome<std::optional<TransferPlacement::Facts>> facts =
        co_await async::detail::settle(std::move(looking));
    if (facts.error())
        co_return false;
    const std::optional<TransferPlacement::Facts> found = facts.get();
    co_return found && found->isDirectory;
}

async::Task<void> TransferManager::removeExistingItem(URL url) {
    const std::shared_ptr<TransferPlacement> placement = makePlacement(m_executor);
    async::Task<void> removing = placement->removeItem(url);
    co_await removing;
}

async::Task<URL> TransferManager::uniqueDestination(URL url) {
    const std::shared_ptr<TransferPlacement> placement = makePlacement(m_executor);
    async::Task<URL> naming = placement->uniqueDestination(url);
    co_return co_await naming;
}

// ---------------------------------------------------------------------------------------------
// Progress and per-file records

std::function<void(quint64)> TransferManager::makeProgressHandler(QUuid id, quint64 base) {
    const std::weak_ptr<const bool> alive = m_alive;
    TransferManager* self = this;
    // The transfer's start counts as a value, so the speed of its first bytes is measured from
    // there. Only its start: a folder copy makes the handlers of the files after the one under
    // way ahead of time, and their larger start would read as a count going back.
    m_speed.start(id, base);
    watchSpeed(id);
    return [alive, self, id, base](quint64 done) {
        async::postToMain([alive, self, id, base, done] {
            if (alive.expired())
                return;
            // Beyond what 64 bits hold is a fault; such a value is never wrapped into a small one.
            if (done > std::numeric_limits<quint64>::max() - base)
                return;
            self->m_speed.record(id, base + done);
            self->m_throttle.offer(id, base + done);
        });
    };
}

void TransferManager::writeProgress(const QUuid& id, quint64 value) {
    // The speed as it stands when the value is written: a value that waited out the throttle
    // must not bring back a speed measured before it.
    const double rate = m_speed.bytesPerSecond(id);
    updateActive(id, [value, rate](Transfer& record) {
        record.progress.bytesTransferred = value;
        record.progress.bytesPerSecond = rate;
    });
}

async::Task<void> TransferManager::recordCompletedFile(QUuid id, URL source, URL destination, Date startedAt,
                                                       quint64 bytes, MovedSourceCheck::Copied copied,
                                                       std::shared_ptr<TransferPlacement> placement) {
    const std::weak_ptr<const bool> alive = m_alive;
    // A transfer cancelled meanwhile has its record finished already: nothing left to check.
    if (!activeRecord(id))
        co_return;
    async::Task<Verification> checking = verify(source, destination, placement);
    const Verification verification = co_await checking;
    if (alive.expired())
        co_return;
    Transfer* record = activeRecord(id);
    if (!record)
        co_return;
    if (record->verificationSummary.requested)
        record->verificationSummary.record(verification.outcome);
    RunState& state = m_runStates[id];
    state.reportEntries.append(TransferReportEntry(destination.lastPathComponent(), source, destination,
                                                   bytes, startedAt, Date::now(), verification.outcome,
                                                   verification.detail));
    if (isMoveCopy(id))
        state.copiedSources.insert(source.absoluteString(), copied);
}

void TransferManager::relocateReportEntries(QUuid id, URL from, std::optional<URL> to) {
    if (!activeRecord(id))
        return;
    QList<TransferReportEntry>& recorded = m_runStates[id].reportEntries;
    const QString prefix = from.absoluteString();
    const QString folderPrefix = prefix.endsWith(QLatin1Char('/')) ? prefix : prefix + QLatin1Char('/');
    QList<TransferReportEntry> entries;
    for (const TransferReportEntry& entry : std::as_const(recorded)) {
        const QString& destination = entry.destinationURLString();
        if (destination != prefix && !destination.startsWith(folderPrefix)) {
            entries.append(entry);
            continue;
        }
        const std::optional<URL> moved =
            to ? URL::fromString(to->absoluteString() + destination.mid(prefix.size())) : std::nullopt;
        if (moved)
            entries.append(TransferReportEntry(
                entry.name(), entry.sourceURL(), *moved, entry.bytesTransferred(), entry.startedAt(),
                entry.completedAt(), entry.verificationOutcome(), entry.verificationDetail()));
    }
    recorded = std::move(entries);
}

void TransferManager::recordCopiedFolder(QUuid id, URL source) {
    if (const auto state = m_runStates.find(id); state != m_runStates.end())
        state->copiedFolders.append(std::move(source));
}

void TransferManager::recordUnreadableItem(QUuid id, QString name, QString reason, URL folder,
                                           URL destination) {
    if (!activeRecord(id))
        return;
    const Date now = Date::now();
    RunState& state = m_runStates[id];
    state.reportEntries.append(TransferReportEntry(
        name, folder.appendingPathComponent(name), destination.appendingPathComponent(name), 0, now, now,
        TransferVerificationOutcome::failed, QStringLiteral("not copied: ") + reason));
    state.unreadableNames.append(name);
}

// ---------------------------------------------------------------------------------------------
// The active list

Transfer* TransferManager::activeRecord(const QUuid& id) {
    for (Transfer& record : m_active) {
        if (record.id == id)
            return &record;
    }
    return nullptr;
}

template <typename Change> bool TransferManager::updateActive(const QUuid& id, Change change, bool publish) {
    Transfer* record = activeRecord(id);
    if (!record)
        return false;
    change(*record);
    if (publish)
        publishActive();
    return true;
}

void TransferManager::publishActive() {
    activeTransfers = m_active;
}
