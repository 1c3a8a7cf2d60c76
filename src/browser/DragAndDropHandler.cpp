#include "browser/DragAndDropHandler.h"

#include "device/AFCBridge.h"
#include "device/AFCComponents.h"
#include "device/AFCPath.h"
#include "device/DeviceManager.h"
#include "device/LocalFileFacts.h"
#include "models/TransferError.h"
#include "platform/ByteCountFormatter.h"
#include "platform/Date.h"
#include "platform/FileTreeRemoval.h"
#include "platform/Logger.h"
#include "platform/TemporaryDirectory.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "platform/async/Continuation.h"
#include "platform/async/Outcome.h"
#include "platform/async/Race.h"
#include "platform/async/SystemContinuousClock.h"
#include "platform/async/TaskHandle.h"
#include "services/LocalFileOperations.h"
#include "transfer/TransferManager.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

const QString DragAndDropHandler::sourceURLKey = QStringLiteral("sourceURL");
const QString DragAndDropHandler::fileNameKey = QStringLiteral("fileName");
const QString DragAndDropHandler::isDirectoryKey = QStringLiteral("isDirectory");
const QString DragAndDropHandler::sizeKey = QStringLiteral("size");

namespace {

const QString afcScheme = QStringLiteral("afc");

// Raises the drag-out counter for as long as it lives, so that every way out of a request,
// a thrown error included, lowers it exactly once.
class DragOutCount {
public:
    DragOutCount() {
        std::lock_guard lock(DeviceManager::transferLock);
        ++DeviceManager::activeTransferCount;
    }
    ~DragOutCount() {
        std::lock_guard lock(DeviceManager::transferLock);
        DeviceManager::activeTransferCount = std::max<int64_t>(DeviceManager::activeTransferCount - 1, 0);
    }
    DragOutCount(const DragOutCount&) = delete;
    DragOutCount& operator=(const DragOutCount&) = delete;
};

// The moment of the latest bytes of one file copy. Touched on the main thread only: the
// bridge posts its progress reports there.
struct PromiseProgressTracker {
    async::ContinuousClock::Instant lastProgressAt;
    quint64 bytesCopied = 0;

    explicit PromiseProgressTracker(async::ContinuousClock::Instant madeAt) : lastProgressAt(madeAt) {}
    void recordProgress(quint64 copied, async::ContinuousClock::Instant at) {
        bytesCopied = copied;
        lastProgressAt = at;
    }
};

// Which of the copy and its watchdog ended first, and the coroutine waiting to hear it.
struct FirstEnded {
    int which = -1;
    std::optional<async::Continuation<void>> waiter;

    void ended(int index) {
        if (which >= 0)
            return;
        which = index;
        if (waiter)
            waiter->resume();
    }
};

constexpr int copyEnded = 0;
constexpr int watchdogEnded = 1;

void removeFolder(const QString& folder) {
    // A folder that cannot be removed is left to the cleanup at the next start.
    removeFileTree(folder);
}

void makeFolder(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir())
        return;
    QDir().mkpath(info.absolutePath());
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        throw FileError::fromErrno(QStringLiteral("create the folder"), path);
    if (!QFileInfo(path).isDir())
        throw FileError(ENOTDIR, QStringLiteral("create the folder"), path);
}

QString joined(const QString& folder, const QString& name) {
    const std::optional<QString> path = AFCPath::child(folder, name);
    if (!path || !AFCPath::isUsable(*path))
        throw TransferError::ioError(QStringLiteral("The name cannot be used for a file: ") + name);
    return *path;
}

// The computer route: a file, a folder tree, or a link as the link itself. Runs on a worker.
void copyLocalItem(const QString& source, const QString& destination) {
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(destination);
    struct stat status {};
    if (::lstat(from.constData(), &status) != 0)
        throw FileError::fromErrno(QStringLiteral("read"), source);
    if (S_ISLNK(status.st_mode)) {
        // The link's own text: a relative link must point into the copy, not back at the source.
        QByteArray target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(from.constData(), target.data(), size_t(target.size()));
        if (length < 0)
            throw FileError::fromErrno(QStringLiteral("read the link"), source);
        target.truncate(length);
        if (::symlink(target.constData(), to.constData()) != 0)
            throw FileError::fromErrno(QStringLiteral("create the link"), destination);
        return;
    }
    if (S_ISDIR(status.st_mode)) {
        if (::mkdir(to.constData(), status.st_mode & 07777) != 0)
            throw FileError::fromErrno(QStringLiteral("create the folder"), destination);
        const QStringList names =
            QDir(source).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : names)
            copyLocalItem(joined(source, name), joined(destination, name));
        return;
    }
    QFile file(source);
    if (!file.copy(destination))
        throw TransferError::ioError(
            QStringLiteral("Could not copy \"%1\": %2").arg(source, file.errorString()));
}

// Making a private connection starts a thread and ending it joins one; on a busy machine either
// takes long enough to be felt in the window, so both happen on a thread of their own.
async::SerialExecutor& bridgeLifecycle() {
    static async::SerialExecutor executor(QStringLiteral("AFCBridgeLifecycle"));
    return executor;
}

// The same bridge, whose last owner hands it to bridgeLifecycle() to be destroyed there.
std::shared_ptr<AFCBridge> destroyedOffMain(std::shared_ptr<AFCBridge> bridge) {
    AFCBridge* raw = bridge.get();
    return std::shared_ptr<AFCBridge>(raw, [bridge](AFCBridge*) mutable {
        bridgeLifecycle().post([last = std::move(bridge)]() mutable { last.reset(); });
    });
}

async::Task<void> disconnectPrivateBridge(std::shared_ptr<AFCBridge> bridge, QString udid) {
    co_await bridge->disconnectAll(udid);
}

// Closes the private connection when its queue reaches it, after any read still held there. The
// bridge goes with the last task that holds it, so it is only destroyed once nothing is queued
// on it: destroying it earlier would wait on the main thread for a blocked read.
void startDisconnect(std::shared_ptr<AFCBridge> bridge, QString udid) {
    async::spawn([bridge, udid](std::stop_token) { return disconnectPrivateBridge(bridge, udid); });
}

async::Task<quint64> downloadTracked(std::shared_ptr<AFCBridge> bridge, QString udid, QString path,
                                     std::optional<QString> bundleID, URL destination,
                                     std::shared_ptr<PromiseProgressTracker> tracker,
                                     async::ContinuousClock* clock, std::shared_ptr<FirstEnded> first,
                                     std::stop_token token) {
    AFCDownloadProgress progress = [tracker, clock](quint64 written) {
        tracker->recordProgress(written, clock->now());
    };
    async::Task<quint64> download = bridge->downloadFile(udid, path, destination, bundleID, progress, token);
    async::detail::Outcome<quint64> outcome = co_await async::detail::settle(std::move(download));
    first->ended(copyEnded);
    co_return outcome.get();
}

async::Task<quint64> runStallWatchdog(std::shared_ptr<PromiseProgressTracker> tracker, QString path,
                                      double timeout, async::TaskHandle<quint64> copy,
                                      async::ContinuousClock* clock, std::stop_token token) {
    int lastLogged = 0;
    const int limit = int(timeout);
    for (;;) {
        co_await clock->sleep(std::chrono::seconds(1), token);
        const int idle = int(
            std::chrono::duration_cast<std::chrono::seconds>(clock->now() - tracker->lastProgressAt).count());
        if (idle >= 10 && idle % 10 == 0 && idle != lastLogged) {
            Logger::transfer().error("File promise AFC copy has no progress for %lds (bytes: %llu, path: %s)",
                                     idle, tracker->bytesCopied, path);
            lastLogged = idle;
        }
        if (idle >= limit) {
            copy.cancel();
            throw TransferError::ioError(
                QStringLiteral("File promise AFC copy stalled for %1 seconds").arg(limit));
        }
    }
}

async::Task<quint64> watchAndSignal(std::shared_ptr<PromiseProgressTracker> tracker, QString path,
                                    double timeout, async::TaskHandle<quint64> copy,
                                    async::ContinuousClock* clock, std::shared_ptr<FirstEnded> first,
                                    std::stop_token token) {
    async::Task<quint64> watching = runStallWatchdog(tracker, path, timeout, copy, clock, token);
    async::detail::Outcome<quint64> outcome = co_await async::detail::settle(std::move(watching));
    first->ended(watchdogEnded);
    co_return outcome.get();
}

// Takes the end of a copy that was given up on, so that it is noted rather than reported as a
// failure nobody heard of.
async::Task<void> awaitOrphanedCopy(async::TaskHandle<quint64> copy) {
    async::Task<quint64> ending = copy.result();
    const async::detail::Outcome<quint64> ended = co_await async::detail::settle(std::move(ending));
    if (const std::exception_ptr error = ended.error(); error && !async::detail::isCancellation(error))
        Logger::transfer().debug("File promise AFC copy ended after its stall: %s",
                                 async::describeException(error));
}

} // namespace

DragAndDropHandler::DragAndDropHandler(std::shared_ptr<TransferManager> transferManager,
                                       async::ContinuousClock& clock)
    : m_transferManager(std::move(transferManager)), m_clock(&clock),
      m_bridgeFactory([] { return std::make_shared<AFCBridge>(); }) {}

DragAndDropHandler::~DragAndDropHandler() = default;

std::shared_ptr<DragAndDropHandler>
DragAndDropHandler::create(std::shared_ptr<TransferManager> transferManager, async::ContinuousClock& clock) {
    return std::shared_ptr<DragAndDropHandler>(new DragAndDropHandler(std::move(transferManager), clock));
}

std::shared_ptr<DragAndDropHandler>
DragAndDropHandler::create(std::shared_ptr<TransferManager> transferManager) {
    return create(std::move(transferManager), async::SystemContinuousClock::shared());
}

QString DragAndDropHandler::defaultStagingRoot() {
    const QString temporary = runTemporaryDirectory();
    return temporary.isEmpty() ? QString() : QDir(temporary).filePath(QString(stagingFolderName));
}

QVariantMap DragAndDropHandler::promiseInfo(const FileItem& item) {
    return {{sourceURLKey, item.path().absoluteString()},
            {fileNameKey, item.name()},
            {isDirectoryKey, item.isDirectory()},
            {sizeKey, QVariant::fromValue<quint64>(item.size())}};
}

QString DragAndDropHandler::promisedFileName(const QVariantMap& info) {
    const QVariant name = info.value(fileNameKey);
    return name.typeId() == QMetaType::QString ? name.toString() : QStringLiteral("Unknown");
}

std::optional<FileItem> DragAndDropHandler::promisedItem(const QVariantMap& info) {
    const QVariant source = info.value(sourceURLKey);
    const QVariant name = info.value(fileNameKey);
    if (source.typeId() != QMetaType::QString || name.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString text = source.toString();
    // A bare absolute path is a location without a scheme: a computer file.
    const std::optional<URL> path =
        text.startsWith(QLatin1Char('/')) ? std::optional<URL>(URL::fileURL(text)) : URL::fromString(text);
    if (!path)
        return std::nullopt;
    const QVariant directory = info.value(isDirectoryKey);
    const bool isDirectory = directory.typeId() == QMetaType::Bool && directory.toBool();
    const QVariant sizeValue = info.value(sizeKey);
    bool isNumber = false;
    quint64 size = sizeValue.isValid() ? sizeValue.toULongLong(&isNumber) : 0;
    if (!isNumber || sizeValue.typeId() == QMetaType::QString)
        size = fileSizeOnDisk(*path).value_or(0);
    return FileItem(text, name.toString(), *path, isDirectory, size, Date::now(),
                    isDirectory ? FileKind::folder : FileKind::other, std::nullopt);
}

void DragAndDropHandler::writePromise(QVariantMap info, URL destination, Completion completion) {
    if (!promisedItem(info)) {
        completion(std::make_exception_ptr(FilePromiseError::missingSourceURL()));
        return;
    }
    std::shared_ptr<DragAndDropHandler> self = shared_from_this();
    auto request = [self, info, destination, completion](std::stop_token) -> async::Task<void> {
        async::Task<void> fulfilling = self->fulfil(info, destination);
        async::detail::Outcome<void> outcome = co_await async::detail::settle(std::move(fulfilling));
        completion(outcome.error());
    };
    async::spawn(std::move(request));
}

async::Task<void> DragAndDropHandler::fulfil(QVariantMap info, URL destination) {
    const std::optional<FileItem> item = promisedItem(info);
    if (!item)
        throw FilePromiseError::missingSourceURL();
    const DragOutCount counted;
    const QString name = item->name();
    auto fail = [&name](const std::exception_ptr& error) {
        Logger::transfer().error("File promise copy failed for %s: %s", name,
                                 async::describeException(error));
    };

    const QString root = stagingRoot();
    const QString staging = QDir(root).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    try {
        if (root.isEmpty())
            throw TransferError::ioError(QStringLiteral("No temporary folder"));
        makeFolder(staging);
    } catch (...) {
        fail(std::current_exception());
        throw;
    }
    Logger::transfer().info("File promise transfer start: %s (%s) to %s", name,
                            ByteCountFormatter::file(item->size()), destination.path());

    std::exception_ptr failure;
    QString staged;
    try {
        // The name is the receiver's to show but ours to join: "..", "a/../../x" or a "/" must
        // never place the copy outside its staging folder.
        staged = joined(staging, name);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure) {
        async::Task<void> exporting = exportItem(*item, URL::fileURL(staged, item->isDirectory()));
        async::detail::Outcome<void> exported = co_await async::detail::settle(std::move(exporting));
        failure = exported.error();
    }
    if (!failure) {
        try {
            if (!destination.isFileURL())
                throw TransferError::ioError(QStringLiteral("Not a file location: ") +
                                             destination.absoluteString());
            LocalFileOperations::renameWithoutReplacing(staged, destination.toLocalFile());
        } catch (...) {
            failure = std::current_exception();
        }
    }
    removeFolder(staging);
    if (failure) {
        fail(failure);
        std::rethrow_exception(failure);
    }
}

async::Task<void> DragAndDropHandler::exportItem(FileItem item, URL destination) {
    const URL source = item.path();
    const QString scheme = source.scheme();
    Logger::transfer().info("File promise export route: %s, directory=%{bool}d, source=%s",
                            scheme.isEmpty() ? QStringLiteral("none") : scheme, item.isDirectory(),
                            source.absoluteString());
    if (scheme == afcScheme) {
        if (item.isDirectory()) {
            async::Task<void> copying = copyAFCDirectory(source, destination, filePromiseStallTimeout);
            co_await std::move(copying);
        } else {
            async::Task<void> copying = copyAFCFile(source, destination, filePromiseStallTimeout);
            co_await std::move(copying);
        }
        co_return;
    }
    if (scheme.isEmpty() || source.isFileURL()) {
        const QString from = source.toLocalFile();
        const QString to = destination.toLocalFile();
        auto job = [from, to] {
            copyLocalItem(from, to);
        };
        async::Task<void> copying = m_files.run(std::move(job));
        co_await std::move(copying);
        co_return;
    }
    if (!m_transferManager)
        throw TransferError::ioError(QStringLiteral("No transfer engine for ") + source.absoluteString());
    QList<FileItem> sources{item};
    const URL folder = destination.deletingLastPathComponent();
    async::Task<void> transferring =
        m_transferManager->transferAndAwait(sources, folder, filePromiseStallTimeout);
    co_await std::move(transferring);
}

async::Task<std::shared_ptr<AFCBridge>>
DragAndDropHandler::openPrivateConnection(QString udid, std::optional<QString> bundleID) {
    BridgeFactory factory = m_bridgeFactory;
    auto make = [factory] {
        return factory();
    };
    async::Task<std::shared_ptr<AFCBridge>> making = bridgeLifecycle().run(std::move(make));
    std::shared_ptr<AFCBridge> made = co_await std::move(making);
    const std::shared_ptr<AFCBridge> bridge = destroyedOffMain(std::move(made));
    if (bundleID) {
        async::Task<void> connecting = bridge->connectApp(udid, *bundleID);
        co_await std::move(connecting);
    } else {
        async::Task<void> connecting = bridge->connect(udid);
        co_await std::move(connecting);
    }
    co_return bridge;
}

async::Task<void> DragAndDropHandler::copyAFCFile(URL source, URL destination, double stallTimeout) {
    const std::optional<AFCComponents> components = afcComponents(source);
    if (!components)
        throw TransferError::ioError(QStringLiteral("Invalid AFC source URL: ") + source.absoluteString());
    async::Task<std::shared_ptr<AFCBridge>> opening =
        openPrivateConnection(components->udid, components->bundleID);
    const std::shared_ptr<AFCBridge> bridge = co_await std::move(opening);

    async::Task<quint64> copying = copyFileUnderWatchdog(bridge, components->udid, components->devicePath,
                                                         components->bundleID, destination, stallTimeout);
    async::detail::Outcome<quint64> copied = co_await async::detail::settle(std::move(copying));
    startDisconnect(bridge, components->udid);
    if (const std::exception_ptr error = copied.error()) {
        Logger::transfer().error("File promise AFC direct copy failed: %s", async::describeException(error));
        std::rethrow_exception(error);
    }
    Logger::transfer().info("File promise AFC direct copy complete: %s from %s",
                            ByteCountFormatter::file(copied.get()), source.absoluteString());
}

async::Task<void> DragAndDropHandler::copyAFCDirectory(URL source, URL destination, double stallTimeout) {
    const std::optional<AFCComponents> components = afcComponents(source);
    if (!components)
        throw TransferError::ioError(QStringLiteral("Invalid AFC source URL: ") + source.absoluteString());
    async::Task<std::shared_ptr<AFCBridge>> opening =
        openPrivateConnection(components->udid, components->bundleID);
    const std::shared_ptr<AFCBridge> bridge = co_await std::move(opening);

    std::exception_ptr failure;
    try {
        makeFolder(destination.toLocalFile());
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure) {
        async::Task<void> copying = copyAFCDirectoryContents(bridge, components->udid, components->devicePath,
                                                             components->bundleID, destination, stallTimeout);
        async::detail::Outcome<void> copied = co_await async::detail::settle(std::move(copying));
        failure = copied.error();
    }
    startDisconnect(bridge, components->udid);
    if (failure)
        std::rethrow_exception(failure);
}

async::Task<void> DragAndDropHandler::copyAFCDirectoryContents(std::shared_ptr<AFCBridge> bridge,
                                                               QString udid, QString path,
                                                               std::optional<QString> bundleID,
                                                               URL destination, double stallTimeout) {
    async::Task<QList<AFCFileInfo>> listing = bridge->listDirectory(udid, path, bundleID);
    const QList<AFCFileInfo> entries = co_await std::move(listing);
    const QString folder = destination.toLocalFile();
    for (const AFCFileInfo& entry : entries) {
        const QString name = entry.value(QStringLiteral("Name"));
        const QString entryPath = entry.value(QStringLiteral("Path"));
        if (name.isEmpty() || entryPath.isEmpty())
            continue;
        const QString child = joined(folder, name);
        if (entry.value(QStringLiteral("st_ifmt")) == QStringLiteral("S_IFDIR")) {
            makeFolder(child);
            async::Task<void> copying = copyAFCDirectoryContents(bridge, udid, entryPath, bundleID,
                                                                 URL::fileURL(child, true), stallTimeout);
            co_await std::move(copying);
        } else {
            // Anything that is not a folder, a link included, is copied as a file.
            async::Task<quint64> copying =
                copyFileUnderWatchdog(bridge, udid, entryPath, bundleID, URL::fileURL(child), stallTimeout);
            co_await std::move(copying);
        }
    }
}

async::Task<quint64> DragAndDropHandler::copyFileUnderWatchdog(std::shared_ptr<AFCBridge> bridge,
                                                               QString udid, QString path,
                                                               std::optional<QString> bundleID,
                                                               URL destination, double stallTimeout) {
    auto tracker = std::make_shared<PromiseProgressTracker>(m_clock->now());
    auto first = std::make_shared<FirstEnded>();
    async::ContinuousClock* clock = m_clock;

    // The copy keeps its bridge for as long as it runs, also after the watchdog gave up on it: a
    // read held by the device returns only when the device lets it.
    auto copyJob = [bridge, udid, path, bundleID, destination, tracker, clock, first](std::stop_token token) {
        return downloadTracked(bridge, udid, path, bundleID, destination, tracker, clock, first, token);
    };
    const async::TaskHandle<quint64> copy = async::spawn(std::move(copyJob));
    auto watchJob = [tracker, path, stallTimeout, copy, clock, first](std::stop_token token) {
        return watchAndSignal(tracker, path, stallTimeout, copy, clock, first, token);
    };
    const async::TaskHandle<quint64> watchdog = async::spawn(std::move(watchJob));

    if (first->which < 0) {
        auto park = [&first](async::Continuation<void> continuation) {
            first->waiter = std::move(continuation);
        };
        co_await async::withContinuation<void>(park);
    }
    if (first->which == copyEnded) {
        watchdog.cancel();
        async::Task<quint64> watchdogEnd = watchdog.result();
        const async::detail::Outcome<quint64> ignored =
            co_await async::detail::settle(std::move(watchdogEnd));
        (void)ignored;
        async::Task<quint64> copied = copy.result();
        co_return co_await std::move(copied);
    }
    // The stall is reported now, not when a held read returns: the copy is cancelled and left to
    // end on its own, and the receiver hears of the failure at once.
    copy.cancel();
    auto orphanEnd = [copy](std::stop_token) {
        return awaitOrphanedCopy(copy);
    };
    async::spawn(std::move(orphanEnd));
    async::Task<quint64> watchdogEnd = watchdog.result();
    async::detail::Outcome<quint64> stalled = co_await async::detail::settle(std::move(watchdogEnd));
    if (const std::exception_ptr error = stalled.error())
        std::rethrow_exception(error);
    throw TransferError::ioError(QStringLiteral("File promise AFC copy returned no result"));
}
