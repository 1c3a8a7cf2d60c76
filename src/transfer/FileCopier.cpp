#include "transfer/FileCopier.h"

#include "device/AFCBridge.h"
#include "device/AFCComponents.h"
#include "device/AFCError.h"
#include "models/TransferError.h"
#include "platform/Error.h"
#include "platform/Logger.h"
#include "platform/TemporaryDirectory.h"
#include "platform/async/Outcome.h"
#include "services/FileItemBuilder.h"
#include "services/FileSystemProvider.h"
#include "services/PreferencesViewController.h"
#include "transfer/LocalTransferFiles.h"
#include "transfer/TransferErrorMapping.h"
#include "transfer/TransferManager.h"
#include "transfer/TransferRun.h"

#include <QUuid>

#include <cerrno>
#include <limits>
#include <sys/stat.h>

namespace {

bool isDevice(const URL& url) {
    return url.scheme() == QLatin1String("afc");
}

AFCBridge& requireBridge(const TransferRun& run) {
    if (!run.placement->bridge())
        throw TransferError::ioError(QStringLiteral("AFC bridge not available"));
    return *run.placement->bridge();
}

// The counter of copied bytes is never wrapped: a total that no longer fits is a fault.
void addCopied(TransferRun& run, quint64 bytes) {
    if (run.bytesCopied > std::numeric_limits<quint64>::max() - bytes)
        throw TransferError::ioError(QStringLiteral("The count of copied bytes overflowed"));
    run.bytesCopied += bytes;
}

} // namespace

async::Task<void> FileCopier::copyFile(std::shared_ptr<TransferRun> run, Source source, URL destination) {
    const bool fromDevice = isDevice(source.url);
    const bool toDevice = isDevice(destination);
    if (fromDevice && toDevice) {
        async::Task<void> copying = deviceToDevice(run, source, destination);
        co_await copying;
    } else if (fromDevice || toDevice) {
        async::Task<void> copying = withDevice(run, source, destination);
        co_await copying;
    } else {
        async::Task<void> copying = local(run, source, destination);
        co_await copying;
    }
}

async::Task<FileCopier::Source> FileCopier::deviceFacts(std::shared_ptr<TransferRun> run, Source source) {
    const AFCComponents components =
        TransferPlacement::deviceComponents(source.url, QStringLiteral("Invalid afc URL: "));
    if (const std::shared_ptr<FileSystemProvider>& provider = run->placement->provider()) {
        async::Task<FileItem> asking = provider->afcItem(source.url, run->placement->bridge());
        const FileItem item = co_await asking;
        run->checkpoint();
        if (item.isDirectory())
            throw AFCError::fileOpenFailed(QStringLiteral("A folder is no file to copy: ") +
                                           components.devicePath);
        source.size = item.size();
        source.modified = item.modifiedDate();
        source.measured = true;
        co_return source;
    }
    AFCBridge& bridge = requireBridge(*run);
    async::Task<void> session = run->placement->openSession(components);
    co_await session;
    run->checkpoint();
    async::Task<AFCFileInfo> asking =
        bridge.fileInfo(components.udid, components.devicePath, components.bundleID);
    const AFCFileInfo info = co_await asking;
    run->checkpoint();
    source.size = FileItemBuilder::unsignedNumber(info.value(QStringLiteral("st_size"))).value_or(0);
    source.modified = FileItemBuilder::dateFromAFCTime(info.value(QStringLiteral("st_mtime")));
    source.measured = true;
    co_return source;
}

async::Task<quint64> FileCopier::localSize(std::shared_ptr<TransferRun> run, URL url) {
    async::Task<quint64> measuring = run->placement->executor().run([path = url.toLocalFile()] {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            throw FileError::fromErrno(QStringLiteral("read"), path);
        if (!S_ISREG(st.st_mode))
            throw FileError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, QStringLiteral("copy"), path);
        return quint64(st.st_size);
    });
    const quint64 size = co_await measuring;
    run->ensureManager();
    co_return size;
}

async::Task<void> FileCopier::keepModificationDate(std::shared_ptr<TransferRun> run, URL destination,
                                                   Date date) {
    if (!PreferencesViewController::preserveTimestamps())
        co_return;
    async::Task<void> setting = run->placement->executor().run([path = destination.toLocalFile(), date] {
        try {
            LocalTransferFiles::setModificationDate(path, date);
        } catch (const FileError& error) {
            Logger::transfer().error("Failed to preserve modification date: %s", error.description());
        }
    });
    co_await setting;
    run->ensureManager();
}

MovedSourceCheck::Copied FileCopier::readFromDevice(const Source& source) {
    return MovedSourceCheck::Copied{std::nullopt, source.size, source.modified};
}

async::Task<void> FileCopier::record(std::shared_ptr<TransferRun> run, URL source, URL destination,
                                     Date startedAt, quint64 bytes, MovedSourceCheck::Copied copied) {
    run->placement->noteCreated(destination);
    // The record reads the device side again (its size, and its bytes when copies are checked).
    async::Task<void> recording = run->manager->recordCompletedFile(run->id, source, destination, startedAt,
                                                                    bytes, copied, run->placement);
    co_await recording;
}

FileCopier::Started FileCopier::start(std::shared_ptr<TransferRun> run, Source source, URL destination,
                                      quint64 base, bool insideNewFolder,
                                      std::shared_ptr<AFCStaging> staging) {
    AFCBridge& bridge = requireBridge(*run);
    Started started;
    started.download = isDevice(source.url);
    started.startedAt = Date::now();
    const std::function<void(quint64)> progress = run->manager->makeProgressHandler(run->id, base);
    if (started.download) {
        const AFCComponents components =
            TransferPlacement::deviceComponents(source.url, QStringLiteral("Invalid afc URL: "));
        AFCCopyOptions options;
        options.expectedSize = source.size;
        options.replaceExisting = false;
        options.partialMark = run->placement->partialMark();
        // Inside a folder the transfer made, that folder's entry covers the partial copy.
        options.recordPartial = !insideNewFolder;
        started.work = bridge.download(components.udid, components.devicePath, destination,
                                       components.bundleID, progress, run->token, options);
    } else {
        const AFCComponents components =
            TransferPlacement::deviceComponents(destination, QStringLiteral("Invalid afc destination URL: "));
        AFCUploadProgress onSent = [progress](qint64 sent, qint64) {
            progress(sent < 0 ? 0 : quint64(sent));
        };
        // The upload measures its source itself when it opens it: a listing may be older.
        AFCCopyOptions options;
        options.replaceExisting = false;
        options.insideNewFolder = insideNewFolder;
        options.staging = std::move(staging);
        options.partialMark = run->placement->partialMark();
        options.openedSource = std::make_shared<FileIdentity>();
        started.openedSource = options.openedSource;
        started.work = bridge.uploadFile(components.udid, components.devicePath, source.url,
                                         components.bundleID, onSent, run->token, options);
    }
    started.source = std::move(source);
    started.destination = std::move(destination);
    return started;
}

async::Task<void> FileCopier::finish(std::shared_ptr<TransferRun> run, Started started) {
    async::detail::Outcome<quint64> outcome = co_await async::detail::settle(std::move(started.work));
    if (outcome.error()) {
        // A size from a listing may be older than the file: the copy is tried once more with the
        // size the file has now. A file that changes while it is copied still fails.
        if (!started.download || started.source.measured ||
            !TransferErrorMapping::holds<SizeChangedError>(outcome.error()))
            std::rethrow_exception(outcome.error());
        run->checkpoint();
        Source current = started.source;
        current.size.reset();
        async::Task<Source> asking = deviceFacts(run, current);
        current = co_await asking;
        if (current.size == started.source.size)
            std::rethrow_exception(outcome.error());
        async::Task<void> again = withDevice(run, current, started.destination);
        co_await again;
        co_return;
    }
    const quint64 bytes = outcome.get();
    run->ensureManager();
    const Source source = started.source;
    addCopied(*run, bytes);
    // A device file that gave no date leaves the copy's own date: stamping year 1 on it would
    // only mislead.
    if (started.download && source.modified && *source.modified != Date::distantPast()) {
        async::Task<void> dating = keepModificationDate(run, started.destination, *source.modified);
        co_await dating;
    }
    const MovedSourceCheck::Copied copied =
        started.download ? readFromDevice(source)
                         : MovedSourceCheck::Copied{*started.openedSource, std::nullopt, std::nullopt};
    async::Task<void> recording =
        record(run, source.url, started.destination, started.startedAt, bytes, copied);
    co_await recording;
}

async::Task<void> FileCopier::withDevice(std::shared_ptr<TransferRun> run, Source source, URL destination) {
    requireBridge(*run);
    const bool download = isDevice(source.url);
    const AFCComponents components =
        download ? TransferPlacement::deviceComponents(source.url, QStringLiteral("Invalid afc URL: "))
                 : TransferPlacement::deviceComponents(destination,
                                                       QStringLiteral("Invalid afc destination URL: "));
    async::Task<void> session = run->placement->openSession(components);
    co_await session;
    run->checkpoint();
    // A download also carries the device file's date over, so it needs both facts.
    if (download && (!source.size || !source.modified)) {
        async::Task<Source> asking = deviceFacts(run, source);
        source = co_await asking;
    } else if (!download && !source.size) {
        async::Task<quint64> measuring = localSize(run, source.url);
        source.size = co_await measuring;
    }
    Started started = start(run, source, destination, run->bytesCopied);
    async::Task<void> finishing = finish(run, std::move(started));
    co_await finishing;
}

async::Task<void> FileCopier::deviceToDevice(std::shared_ptr<TransferRun> run, Source source,
                                             URL destination) {
    requireBridge(*run);
    const AFCComponents from =
        TransferPlacement::deviceComponents(source.url, QStringLiteral("Invalid afc URL: "));
    const AFCComponents to =
        TransferPlacement::deviceComponents(destination, QStringLiteral("Invalid afc destination URL: "));
    const Date startedAt = Date::now();
    const quint64 base = run->bytesCopied;

    // One private folder per file: two such copies at once never meet, and the folder never
    // outlives its copy.
    async::Task<QString> making = run->placement->executor().run([] {
        const QString root = runTemporaryDirectory();
        if (root.isEmpty())
            throw TransferError::ioError(QStringLiteral("No temporary folder for the copy"));
        const QString folder = root + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces);
        LocalTransferFiles::makeFolder(folder);
        return folder;
    });
    const QString folderPath = co_await making;
    // From here the folder is removed however the copy ends.
    const URL folder = URL::fileURL(folderPath, true);
    const URL temporary = folder.appendingPathComponent(source.url.lastPathComponent());

    async::Task<Relayed> copying = throughTemporary(run, source, temporary, from, to, base);
    async::detail::Outcome<Relayed> copied = co_await async::detail::settle(std::move(copying));

    async::Task<void> cleaning = run->placement->executor().run([path = folder.toLocalFile()] {
        try {
            LocalTransferFiles::removeItem(path);
        } catch (const FileError& error) {
            Logger::transfer().error("Could not remove the temporary folder: %s", error.description());
        }
    });
    co_await cleaning;
    if (copied.error())
        std::rethrow_exception(copied.error());
    const Relayed relayed = copied.get();
    run->ensureManager();
    addCopied(*run, relayed.sent);
    const MovedSourceCheck::Copied read = readFromDevice(relayed.source);
    async::Task<void> recording = record(run, source.url, destination, startedAt, relayed.sent, read);
    co_await recording;
}

async::Task<FileCopier::Relayed> FileCopier::throughTemporary(std::shared_ptr<TransferRun> run, Source source,
                                                              URL temporary, AFCComponents from,
                                                              AFCComponents to, quint64 base) {
    AFCBridge& bridge = *run->placement->bridge();
    async::Task<void> opening = run->placement->openSession(from);
    co_await opening;
    run->checkpoint();
    // Two tries at most: the second with the size the file has now, should a listing be older.
    for (int attempt = 0;; ++attempt) {
        if (!source.size) {
            async::Task<Source> asking = deviceFacts(run, source);
            source = co_await asking;
        }
        const std::function<void(quint64)> downProgress = run->manager->makeProgressHandler(run->id, base);
        AFCCopyOptions options;
        options.expectedSize = source.size;
        async::Task<quint64> downloading = bridge.download(from.udid, from.devicePath, temporary,
                                                           from.bundleID, downProgress, run->token, options);
        async::detail::Outcome<quint64> fetched = co_await async::detail::settle(std::move(downloading));
        run->checkpoint();
        if (!fetched.error())
            break;
        if (attempt > 0 || source.measured || !TransferErrorMapping::holds<SizeChangedError>(fetched.error()))
            std::rethrow_exception(fetched.error());
        const std::optional<quint64> listed = source.size;
        source.size.reset();
        async::Task<Source> asking = deviceFacts(run, source);
        source = co_await asking;
        if (source.size == listed)
            std::rethrow_exception(fetched.error());
    }

    async::Task<void> reopening = run->placement->openSession(to);
    co_await reopening;
    run->checkpoint();
    const std::function<void(quint64)> upProgress = run->manager->makeProgressHandler(run->id, base);
    AFCUploadProgress onSent = [upProgress](qint64 sent, qint64) {
        upProgress(sent < 0 ? 0 : quint64(sent));
    };
    AFCCopyOptions options;
    options.expectedSize = source.size;
    options.replaceExisting = false;
    async::Task<quint64> uploading =
        bridge.uploadFile(to.udid, to.devicePath, temporary, to.bundleID, onSent, run->token, options);
    const quint64 sent = co_await uploading;
    run->checkpoint();
    co_return Relayed{sent, source};
}

async::Task<void> FileCopier::local(std::shared_ptr<TransferRun> run, Source source, URL destination) {
    const Date startedAt = Date::now();
    const quint64 base = run->bytesCopied;
    const std::function<void(quint64)> progress = run->manager->makeProgressHandler(run->id, base);
    const bool keepDate = PreferencesViewController::preserveTimestamps();
    async::Task<LocalTransferFiles::CopyResult> copying = run->placement->executor().run(
        [from = source.url.toLocalFile(), to = destination.toLocalFile(), progress, keepDate,
         token = run->token, mark = run->placement->partialMark(), journal = run->placement->journal()] {
            return LocalTransferFiles::copyFile(
                from, to, [] { return PreferencesViewController::macChunkSize(); }, progress, keepDate, token,
                false, mark, journal.get());
        });
    const LocalTransferFiles::CopyResult result = co_await copying;
    run->ensureManager();
    addCopied(*run, result.bytes);
    const MovedSourceCheck::Copied copied{result.source, std::nullopt, std::nullopt};
    async::Task<void> recording = record(run, source.url, destination, startedAt, result.bytes, copied);
    co_await recording;
}
