#pragma once

#include "models/FileItem.h"
#include "models/Transfer.h"
#include "models/TransferError.h"
#include "models/TransferHistoryEntry.h"
#include "models/TransferVerificationOutcome.h"
#include "platform/NotificationCenter.h"
#include "platform/Observable.h"
#include "platform/URL.h"
#include "platform/UiTimerSource.h"
#include "platform/UserDefaults.h"
#include "platform/async/Continuation.h"
#include "platform/async/ContinuousClock.h"
#include "platform/async/SerialExecutor.h"
#include "platform/async/Task.h"
#include "platform/async/TaskHandle.h"
#include "transfer/ConflictPrompter.h"
#include "transfer/MovedSourceCheck.h"
#include "transfer/ProgressThrottle.h"
#include "transfer/TransferHistoryStore.h"
#include "transfer/TransferPlacement.h"
#include "transfer/TransferSpeed.h"

#include <QHash>
#include <QLatin1StringView>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class AFCBridge;
class FileSystemProvider;
class PendingSources;
struct TransferRun;

// Runs every copy between two locations (this computer to itself, to a device, from a device,
// device to device) as a transfer: a record it publishes while the copy runs, one task of its
// own on the main thread, and at the end a report file, a history entry and a place in the list
// of finished transfers. There is no queue: a launched transfer runs at once, beside any others.
//
// Main thread only. Blocking work (local copies, folder making, stat) runs on executors, device
// work on the bridge's, so the window never waits for a disk or a device. A transfer's sources
// are copied strictly one after another; each placement is decided first (a source already at its
// destination is skipped, a folder onto a folder merges, any other clash is asked about).
//
// Destroying the manager cancels the transfers still running; they end at their next wait
// without touching it.
class TransferManager {
public:
    static constexpr QLatin1StringView historyDefaultsKey = TransferHistoryStore::defaultsKey;
    static constexpr qsizetype maximumCompletedTransfers = 20;
    static constexpr qsizetype maximumHistoryEntries = TransferHistoryStore::maximumEntries;
    // Posted on the notification centre when a transfer to a device ended (not failed), so that
    // browsers list their folders again; no user info.
    static inline const QString afcFilesUploaded = QStringLiteral("AFCFilesUploaded");
    // Posted by moves after items left a device; user info "items".
    static inline const QString afcFilesDeleted = QStringLiteral("AFCFilesDeleted");

    // With the app's settings store, the system clock and the default notification centre. Loads
    // the history.
    TransferManager();
    TransferManager(UserDefaults& defaults, async::ContinuousClock& clock, NotificationCenter& notifications);
    virtual ~TransferManager();
    TransferManager(const TransferManager&) = delete;
    TransferManager& operator=(const TransferManager&) = delete;

    // Where afcFilesUploaded and afcFilesDeleted are posted.
    NotificationCenter& notificationCenter() const { return m_notifications; }

    // Transfers not yet finished, in the order they were started.
    Observable<QList<Transfer>> activeTransfers;
    // The most recently finished, newest first, at most maximumCompletedTransfers.
    Observable<QList<Transfer>> completedTransfers;
    // Newest first, at most maximumHistoryEntries after each finish. The Transfer Center may set
    // it (to empty) and then removes the stored value with clearStoredHistory().
    Observable<QList<TransferHistoryEntry>> transferHistory;

    const std::shared_ptr<AFCBridge>& afcBridge() const { return m_afcBridge; }
    void setAFCBridge(std::shared_ptr<AFCBridge> bridge) { m_afcBridge = std::move(bridge); }
    const std::shared_ptr<FileSystemProvider>& fileSystemProvider() const { return m_fileSystemProvider; }
    void setFileSystemProvider(std::shared_ptr<FileSystemProvider> provider);
    // Who answers name clashes. Without one, a clash stops the transfer.
    void setConflictPrompter(std::shared_ptr<ConflictPrompter> prompter) { m_prompter = std::move(prompter); }
    // Sounds when a retry finds nothing it could copy (the interface sets the system beep).
    void setBeep(std::function<void()> beep) { m_beep = std::move(beep); }
    // What times the grace a cancelled transfer's device request has before its connection is
    // cut; the system's timers unless a test steps its own. Must outlive the manager's tasks.
    void setTimerSource(UiTimerSource& timers) { m_timers = &timers; }

    // A new transfer, appended to activeTransfers, queued and not yet running.
    virtual Transfer startTransfer(QList<FileItem> sources, URL destination);
    // Starts the transfer's task.
    virtual void launchTask(const Transfer& transfer);
    // Copies files of this computer (dropped from another application): started and launched.
    virtual Transfer startTransfer(QList<URL> urls, URL to);
    // Cancels the transfer: its record says cancelled at once, and its task stops at its next
    // wait and undoes nothing it completed. The record is finished when the task has ended, so
    // that a file the task still completed is in its report; a transfer whose task is not
    // running is finished at once.
    virtual void cancelTransfer(QUuid id);
    // Cancels every transfer that has not finished.
    void cancelAllTransfers();
    // Transfer tasks still running, counting cancelled ones whose clean-up (removing a partial
    // file) goes on after the cancel returned: quitting waits for none to be left, so no
    // half-written file that looks whole stays behind.
    int runningTransferTasks() const { return *m_runningTasks; }
    // Starts the copy of a history entry again, as a new transfer of what is there now.
    virtual async::Task<void> retryTransfer(TransferHistoryEntry entry);
    // Resumes once the transfer has finished: returns for a success, throws its TransferError, or
    // async::CancelledError for a cancelled one. At once for a transfer among the finished.
    async::Task<void> waitForTransfer(QUuid id);

    // --- awaiting a transfer ---
    // Starts a transfer of sources into destination and resumes when it has ended: returns when
    // it completed, throws its TransferError, or async::CancelledError when it was cancelled.
    // With a stall timeout above zero a watchdog gives up (and cancels the transfer) once its
    // progress has stood still that long; the stall is a TransferError ioError.
    async::Task<void> transferAndAwait(QList<FileItem> sources, URL destination,
                                       std::optional<double> stallTimeout, std::stop_token token = {});
    // The end of a transfer that is running or finished; a transfer that is neither is an ioError
    // "Transfer is no longer active". Cancelling token resumes this waiter only, never the transfer.
    async::Task<void> awaitCompletion(QUuid id, std::stop_token token = {});
    // Nothing while the transfer has no result; else its result (a null pointer for success).
    std::optional<std::exception_ptr> completionResultFor(const QUuid& id) const;
    // Looks at the transfer's progress once a second (on the manager's clock) and throws the stall
    // error once neither its bytes nor its finished files have grown for timeout seconds. Once the
    // transfer has ended it ends as the transfer did, so it never decides that outcome.
    async::Task<void> runStallWatchdog(QUuid id, double timeout, std::stop_token token);

    // --- checks of copied files ---
    struct Verification {
        TransferVerificationOutcome outcome = TransferVerificationOutcome::skipped;
        std::optional<QString> detail;
    };
    // With "verifyTransfers" on, hashes the source to its end and then the destination; never fails.
    // With placement, the device is read as that transfer's (TransferPlacement::bridge()).
    async::Task<Verification> verify(URL source, URL destination,
                                     std::shared_ptr<TransferPlacement> placement = {});
    // SHA-256 of a file on either side, as 64 lowercase hexadecimal characters. The hashing runs
    // on a worker thread; a device file is hashed chunk by chunk while the next chunk is read.
    async::Task<QString> sha256Hex(URL url);
    async::Task<quint64> fileSize(URL url);
    // With "preserveTimestamps" on, gives a copy on this computer its source's modification date.
    // Never fails; a source without a known date leaves the copy's date alone.
    async::Task<void> preserveModificationDate(URL source, URL destination);
    async::Task<Date> modificationDate(URL url);
    // Called just before a copied file is checked: lets a test change a file between copy and check.
    void setBeforeVerification(std::function<void(const URL&, const URL&)> hook) {
        m_beforeVerification = std::move(hook);
    }

    // --- moving items ---
    // Moves the items into destination: a rename when every item and the destination are on the
    // same side (for a device: one session), else, or when a rename fails, a copy whose transfer
    // then deletes what it really copied, before it ends. Never deletes a source that was not
    // copied whole.
    async::Task<void> moveItems(QList<FileItem> items, URL destination);
    // moveItems in a task of its own; a failure is logged.
    void moveItemsInBackground(QList<FileItem> items, URL destination);

    // How a finished transfer ended: nothing for success, else the error a waiter receives.
    static std::exception_ptr completionResult(const Transfer& transfer);
    // What a failure becomes in the transfer's record.
    static TransferError transferError(std::exception_ptr error);
    // The failure of a transfer or move whose source item is gone.
    static TransferError sourceMissing(const FileItem& item);

    // --- placement and name clashes ---
    static bool isSameLocation(const URL& first, const URL& second);
    static QString normalizedPath(const QString& path);
    // Where the item is to be written: the proposed URL (also when it is the item itself, or when
    // a folder meets a folder and merges), a free " copy" name, or the proposed URL after what was
    // there was removed. Asks the user about a clash unless the transfer keeps an answer for all;
    // an item the transfer itself made is never offered for replacing (it gets a free name).
    // Throws async::CancelledError for "Stop".
    async::Task<URL> resolveConflict(FileItem item, URL destination, std::optional<QUuid> transferID,
                                     std::stop_token token = {});
    async::Task<ConflictAnswer> promptConflictResolution(QString itemName, std::stop_token token = {});
    // On a device only "not found" means absent; other failures to look are raised.
    async::Task<bool> itemExists(URL url);
    // False for anything that cannot be looked at.
    async::Task<bool> isDirectory(URL url);
    async::Task<void> removeExistingItem(URL url);
    async::Task<URL> uniqueDestination(URL url);

    // --- reports and history ---
    static QString reportsDirectory();
    std::optional<URL> writeReport(const Transfer& transfer) const;
    void loadHistory();
    // Writes the history now, on this thread.
    void saveHistory();
    // Empties the history and removes what is stored of it.
    void clearHistory();

    // --- what the copies of a running transfer call ---
    struct Placement {
        URL url;
        // The item is already where it would go: nothing to copy.
        bool sameItem = false;
        // The item that was at url, set aside until the copy is whole (then it goes) or has
        // failed (then it is put back): see TransferPlacement::settleAside.
        std::optional<TransferPlacement::Aside> aside;
    };
    async::Task<Placement> place(std::shared_ptr<TransferRun> run, QString name, URL source, bool isDirectory,
                                 URL proposed);
    // A handler for the bytes done of the current file on top of base, callable from any thread:
    // it hands the value to the main thread, where it is published under the throttle.
    std::function<void(quint64)> makeProgressHandler(QUuid id, quint64 base);
    // The file's report line (and verification count), appended to the running transfer.
    // Checks the copy first when "verifyTransfers" is on, through the transfer's placement. A
    // move's copy keeps what it read of the source (copied), which the source must still match
    // when the move deletes it.
    async::Task<void> recordCompletedFile(QUuid id, URL source, URL destination, Date startedAt,
                                          quint64 bytes, MovedSourceCheck::Copied copied = {},
                                          std::shared_ptr<TransferPlacement> placement = {});
    // A folder that a move's copy made and filled completely (children before their parents).
    void recordCopiedFolder(QUuid id, URL source);
    // A folder copy built under a hidden name took its real one: its files' report lines say so.
    // Without a new place the folder was removed, unfinished, and its files' lines go.
    void relocateReportEntries(QUuid id, URL from, std::optional<URL> to);
    // Whether the transfer is the copy of a move: it lists afresh and takes hidden items too.
    bool isMoveCopy(const QUuid& id) const { return m_moveCopies.contains(id); }
    // A child of a folder that could not be copied because it could not be read: a failed line in
    // the report, and the transfer will not end as a clean success.
    void recordUnreadableItem(QUuid id, QString name, QString reason, URL folder, URL destination);

protected:
    // The body of a transfer's task; never fails.
    virtual async::Task<void> runTransfer(Transfer transfer, std::stop_token token);
    virtual void finishTransfer(QUuid id);
    // The wait for id is over: its kept record goes (freed elsewhere, with its report's lines).
    void forgetAwaitedRecord(const QUuid& id);

private:
    struct RunState {
        QStringList unreadableNames;
        QList<URL> copiedFolders;
        // The report's lines while the transfer runs. Kept apart from the published record, which
        // views hold copies of: appending a line never copies the lines before it, so a file's cost
        // does not grow with the files done before it. The record takes them when it finishes.
        QList<TransferReportEntry> reportEntries;
        // A move's copy only: what each copied file was when it was read, by its source URL.
        QHash<QString, MovedSourceCheck::Copied> copiedSources;
    };
    struct DirectMoveState {
        QList<FileItem> moved;
        // Names of moved items whose old name stays beside the new one: the move did not finish.
        QStringList leftBehind;
        // The answer the user ticked "Apply to all" for; the copy road keeps it too.
        ConflictPolicy policy;
    };

    async::Task<void> directMove(QList<FileItem> items, URL destination,
                                 std::shared_ptr<DirectMoveState> state);
    // True when the item has its new name but its old one could not be removed.
    async::Task<bool> moveOne(FileItem item, URL target);
    // The last step of a move's copy, inside its run: flushes what the copy wrote on this
    // computer, then deletes the sources it copied whole.
    async::Task<void> deleteMovedSources(std::shared_ptr<TransferRun> run, QList<FileItem> items,
                                         URL destination);
    void postMoveNotifications(const QList<FileItem>& items, const URL& destination);
    async::Task<void> awaitTransfer(QUuid id, std::optional<double> stallTimeout, std::stop_token token);
    // The threads one side of a check hashes (and reads, on this computer) on.
    struct HashThreads {
        std::shared_ptr<async::SerialExecutor> hash;
        std::shared_ptr<async::SerialExecutor> read;
    };
    // A device file is read through bridge (the manager's own when empty).
    async::Task<QString> hashWith(URL url, HashThreads threads, std::shared_ptr<AFCBridge> bridge = {});
    async::Task<QString> hashLocal(URL url, HashThreads threads);
    async::Task<QString> hashDevice(URL url, HashThreads threads, std::shared_ptr<AFCBridge> bridge);

    // With token, the device requests made through it are cut when they outlast its stop.
    std::shared_ptr<TransferPlacement> makePlacement(std::shared_ptr<async::SerialExecutor> executor,
                                                     std::stop_token token = {}) const;
    // With setAside, a Replace renames the old item aside (Placement::aside) instead of removing it.
    // A Replace that would remove one of pending's sources, or what holds or lies inside one, is
    // refused (TransferError ioError).
    async::Task<Placement> resolvePlacement(std::shared_ptr<TransferPlacement> placement, QString name,
                                            URL source, bool isDirectory, URL proposed,
                                            std::optional<QUuid> transferID, bool setAside,
                                            std::shared_ptr<PendingSources> pending, std::stop_token token);
    // Places and copies one source; true when it was already where it would go.
    async::Task<bool> copySource(std::shared_ptr<TransferRun> run, FileItem source, URL proposed);
    // The end of a run that did not fail: listings emptied, browsers told, record retired.
    void endRun(const QUuid& id, const URL& destination);

    // The end of a finish: the report (a line for each file) is written and the history encoded
    // on a worker thread (a transfer of 50,000 photos makes 50,000 lines and an entry of 50,000
    // sources), and the history is stored once encoded; the transfer's waiters are woken then, so
    // that whoever awaited a transfer finds it, naming its report, in the stored history.
    void saveHistoryThenWake(QList<async::Continuation<void>> waiters, std::exception_ptr result,
                             std::optional<Transfer> report = std::nullopt);
    void historyEncoded(quint64 save, const QByteArray& encoded);
    // The finished transfer's report was written (to written) or could not be (logged): the
    // records that name reports name it from now on.
    void reportWritten(const QUuid& id, const std::optional<URL>& written, quint64 save);
    // At the manager's end: the reports the worker did not write yet are written on this thread.
    void writeUnwrittenReports();
    // Wakes the waiters whose finish the history written by save (or a later one) holds.
    void wakeAfterSave(quint64 save);

    // Changes the active record of id, if there still is one, and publishes the list.
    template <typename Change> bool updateActive(const QUuid& id, Change change, bool publish = true);
    Transfer* activeRecord(const QUuid& id);
    void publishActive();
    // A progress value the throttle lets through, now or once its wait is over.
    void writeProgress(const QUuid& id, quint64 value);
    // Once a second while the transfer runs, publishes its speed anew when it changed: with
    // nothing moving no progress comes, and the speed last shown would stand.
    void watchSpeed(const QUuid& id);
    // Time spent waiting for an answer counts as no speed, and none is shown meanwhile.
    void pauseSpeed(const QUuid& id);
    FileItem itemForLocalURL(const URL& url) const;
    async::Task<std::optional<FileItem>> rebuildItem(TransferHistorySource source);

    UserDefaults& m_defaults;
    async::ContinuousClock& m_clock;
    NotificationCenter& m_notifications;
    TransferHistoryStore m_history;
    ProgressThrottle m_throttle;
    TransferSpeed m_speed;

    std::shared_ptr<AFCBridge> m_afcBridge;
    std::shared_ptr<FileSystemProvider> m_fileSystemProvider;
    std::shared_ptr<ConflictPrompter> m_prompter;
    std::function<void()> m_beep;
    UiTimerSource* m_timers = &UiTimerSource::system();
    // For placement questions asked outside a running transfer.
    std::shared_ptr<async::SerialExecutor> m_executor;

    // The truth of the active transfers; activeTransfers publishes snapshots of it.
    QList<Transfer> m_active;
    QHash<QUuid, async::TaskHandle<void>> m_transferTasks;
    QHash<QUuid, async::TaskHandle<void>> m_speedWatches;
    // Shared with the tasks, so that a task outliving the manager lowers a live counter.
    std::shared_ptr<int> m_runningTasks = std::make_shared<int>(0);
    QHash<QUuid, QList<async::Continuation<void>>> m_completionContinuations;
    QHash<QUuid, ConflictPolicy> m_conflictPolicies;
    QHash<QUuid, RunState> m_runStates;
    // Records kept for whoever awaits them, so that the cap on completedTransfers cannot lose one.
    QHash<QUuid, std::optional<Transfer>> m_awaitedRecords;
    // The transfers that are the copies of moves.
    QSet<QUuid> m_moveCopies;
    // The sources a move's copy deleted (all or part of), kept for the move to tell the browsers
    // of them however its transfer ends.
    QHash<QUuid, QList<FileItem>> m_sourcesGone;
    std::function<void(const URL&, const URL&)> m_beforeVerification;
    // Hashing, and the reads that feed it on this computer, each on a thread of its own; a check
    // hashes its source and its copy side by side.
    struct Wake {
        quint64 save = 0;
        QList<async::Continuation<void>> waiters;
        std::exception_ptr result;
    };
    // Every write of the history, encoded in the background or made at once, gets the next
    // number; only the newest background one is stored.
    quint64 m_historySaves = 0;
    QList<Wake> m_wakeAfterSave;
    // Finished transfers whose report the worker has not written yet; the destructor writes them.
    QHash<QUuid, Transfer> m_unwrittenReports;
    // A big transfer finished: the allocator gives its free memory back once the history is stored.
    bool m_trimAfterSave = false;
    std::unique_ptr<async::SerialExecutor> m_historyEncoder =
        std::make_unique<async::SerialExecutor>(QStringLiteral("TransferHistory"));
    HashThreads m_sourceHashing;
    HashThreads m_copyHashing;
    // Every coroutine and posted progress value checks it before it touches the manager.
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
};
