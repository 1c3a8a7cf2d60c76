#include "transfer/TransferPlacement.h"

#include "device/AFCBridge.h"
#include "device/AFCError.h"
#include "device/AFCPath.h"
#include "device/LeftoverCleanup.h"
#include "models/TransferError.h"
#include "platform/Error.h"
#include "platform/Logger.h"
#include "platform/async/Outcome.h"
#include "platform/async/ReleaseElsewhere.h"
#include "services/FileSystemProvider.h"
#include "services/LocalFileOperations.h"
#include "transfer/LocalLeftovers.h"
#include "transfer/LocalTransferFiles.h"

#include <libimobiledevice/afc.h>

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isDevice(const URL& url) {
    return url.scheme() == QLatin1String("afc");
}

bool isLocal(const URL& url) {
    return !isDevice(url) && (url.scheme().isEmpty() || url.scheme() == QLatin1String("file"));
}

bool meansAbsent(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const AFCError& afcError) {
        return afcError.libraryResult() == int(AFC_E_OBJECT_NOT_FOUND);
    } catch (...) {
        return false;
    }
}

bool pathIsAtOrBelow(const QString& inner, const QString& outer) {
    if (inner == outer)
        return true;
    const QString prefix = outer.endsWith(QLatin1Char('/')) ? outer : outer + QLatin1Char('/');
    return inner.startsWith(prefix);
}

} // namespace

TransferPlacement::TransferPlacement(std::shared_ptr<AFCBridge> bridge,
                                     std::shared_ptr<FileSystemProvider> provider,
                                     std::shared_ptr<async::SerialExecutor> executor, std::stop_token token,
                                     UiTimerSource* timers)
    : m_bridge(bridge && timers && token.stop_possible() ? bridge->forRequestsOf(token, *timers)
                                                          : std::move(bridge)),
      m_provider(std::move(provider)), m_executor(std::move(executor)) {}

QString TransferPlacement::normalizedPath(const QString& path) {
    const bool absolute = path.startsWith(QLatin1Char('/'));
    QStringList parts;
    for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty() && parts.last() != QLatin1String(".."))
                parts.removeLast();
            else if (!absolute)
                parts.append(part);
            continue;
        }
        parts.append(part);
    }
    const QString joined = parts.join(QLatin1Char('/'));
    if (absolute)
        return QLatin1Char('/') + joined;
    return joined;
}

TransferPlacement::~TransferPlacement() {
    async::releaseElsewhere(std::move(m_created), std::move(m_createdURLs));
}

bool TransferPlacement::isSameLocation(const URL& first, const URL& second) {
    if (first.scheme() != second.scheme())
        return false;
    if (isDevice(first)) {
        const std::optional<AFCComponents> a = afcComponents(first);
        const std::optional<AFCComponents> b = afcComponents(second);
        if (a && b) {
            return a->udid == b->udid && a->bundleID.value_or(QString()) == b->bundleID.value_or(QString()) &&
                   normalizedPath(a->devicePath) == normalizedPath(b->devicePath);
        }
        return first.absoluteString() == second.absoluteString();
    }
    if (isLocal(first))
        return normalizedPath(first.toLocalFile()) == normalizedPath(second.toLocalFile());
    return first.absoluteString() == second.absoluteString();
}

QString TransferPlacement::copyName(const QString& base, const QString& extension, int number,
                                    int limitBytes) {
    return AFCPath::copyName(base, extension, number, limitBytes);
}

AFCComponents TransferPlacement::deviceComponents(const URL& url, const QString& errorPrefix) {
    std::optional<AFCComponents> components = afcComponents(url);
    if (!components)
        throw TransferError::ioError(errorPrefix + url.absoluteString());
    return *components;
}

AFCBridge& TransferPlacement::requireBridge() const {
    if (!m_bridge)
        throw TransferError::ioError(QStringLiteral("AFC bridge not available"));
    return *m_bridge;
}

async::Task<bool> TransferPlacement::isSameItem(URL first, URL second) {
    if (isSameLocation(first, second))
        co_return true;
    if (!isLocal(first) || !isLocal(second))
        co_return false;
    async::Task<bool> comparing = m_executor->run([a = first.toLocalFile(), b = second.toLocalFile()] {
        return LocalTransferFiles::isSameEntry(a, b);
    });
    co_return co_await comparing;
}

async::Task<bool> TransferPlacement::isAtOrBelow(URL inner, URL outer) {
    if (isDevice(inner) && isDevice(outer)) {
        const std::optional<AFCComponents> a = afcComponents(inner);
        const std::optional<AFCComponents> b = afcComponents(outer);
        if (!a || !b || a->udid != b->udid || a->bundleID != b->bundleID)
            co_return false;
        co_return pathIsAtOrBelow(normalizedPath(a->devicePath), normalizedPath(b->devicePath));
    }
    if (!isLocal(inner) || !isLocal(outer))
        co_return false;
    async::Task<bool> comparing = m_executor->run([a = inner.toLocalFile(), b = outer.toLocalFile()] {
        return pathIsAtOrBelow(LocalTransferFiles::resolvedPath(normalizedPath(a)),
                               LocalTransferFiles::resolvedPath(normalizedPath(b)));
    });
    co_return co_await comparing;
}

async::Task<std::optional<TransferPlacement::Facts>> TransferPlacement::inspect(URL url) {
    if (isDevice(url)) {
        async::Task<std::optional<Facts>> looking = inspectDevice(url);
        co_return co_await looking;
    }
    async::Task<std::optional<Facts>> looking =
        m_executor->run([path = url.toLocalFile()]() -> std::optional<Facts> {
            const std::optional<LocalTransferFiles::Facts> facts = LocalTransferFiles::inspect(path);
            if (!facts)
                return std::nullopt;
            return Facts{facts->isDirectory};
        });
    co_return co_await looking;
}

async::Task<std::optional<TransferPlacement::Facts>> TransferPlacement::inspectSource(URL url) {
    if (!isDevice(url)) {
        async::Task<bool> checking =
            m_executor->run([path = url.toLocalFile()] { return LocalTransferFiles::nameIsAmbiguous(path); });
        const bool ambiguous = co_await checking;
        if (ambiguous) {
            throw TransferError::ioError(
                QStringLiteral("\"%1\": name is not valid text").arg(url.lastPathComponent()));
        }
    }
    async::Task<std::optional<Facts>> looking = inspect(url);
    co_return co_await looking;
}

async::Task<std::optional<TransferPlacement::Facts>> TransferPlacement::inspectDevice(URL url) {
    const AFCComponents components = deviceComponents(url, QStringLiteral("Invalid afc URL: "));
    async::detail::Outcome<std::optional<Facts>> outcome;
    if (m_provider) {
        async::Task<FileItem> asking = m_provider->afcItem(url, m_bridge);
        async::detail::Outcome<FileItem> item = co_await async::detail::settle(std::move(asking));
        if (item.error())
            outcome.setError(item.error());
        else
            outcome.setValue(Facts{item.get().isDirectory()});
    } else {
        AFCBridge& bridge = requireBridge();
        async::Task<void> session = openSession(components);
        co_await session;
        async::Task<AFCFileInfo> asking =
            bridge.fileInfo(components.udid, components.devicePath, components.bundleID);
        async::detail::Outcome<AFCFileInfo> info = co_await async::detail::settle(std::move(asking));
        if (info.error())
            outcome.setError(info.error());
        else
            outcome.setValue(Facts{info.get().value(QStringLiteral("st_ifmt")) == QLatin1String("S_IFDIR")});
    }
    if (outcome.error() && meansAbsent(outcome.error()))
        co_return std::nullopt;
    co_return outcome.get();
}

async::Task<void> TransferPlacement::removeItem(URL url) {
    if (!isDevice(url)) {
        async::Task<void> removing =
            m_executor->run([path = url.toLocalFile()] { LocalTransferFiles::removeItem(path); });
        co_await removing;
        co_return;
    }
    AFCBridge& bridge = requireBridge();
    const AFCComponents components = deviceComponents(url, QStringLiteral("AFC bridge not available: "));
    async::Task<std::optional<Facts>> looking = inspect(url);
    const std::optional<Facts> facts = co_await looking;
    async::Task<void> session = openSession(components);
    co_await session;
    async::Task<void> removing =
        facts && facts->isDirectory
            ? bridge.removeRecursively(components.udid, components.devicePath, components.bundleID)
            : bridge.removeItem(components.udid, components.devicePath, components.bundleID);
    co_await removing;
}

async::Task<URL> TransferPlacement::uniqueDestination(URL url) {
    const QString extension = url.pathExtension();
    const QString last = url.lastPathComponent();
    const QString base = extension.isEmpty() ? last : last.left(last.size() - extension.size() - 1);
    const URL folder = url.deletingLastPathComponent();
    if (!isDevice(url)) {
        async::Task<QString> finding =
            m_executor->run([folder = folder.toLocalFile(), last, base, extension] {
                const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
                if (!LocalTransferFiles::inspect(prefix + last))
                    return last;
                const long limit = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
                for (int number = 1;; ++number) {
                    const QString name = copyName(base, extension, number, limit > 0 ? int(limit) : 255);
                    if (!LocalTransferFiles::inspect(prefix + name))
                        return name;
                }
            });
        const QString found = co_await finding;
        co_return found == last ? url : folder.appendingPathComponent(found);
    }
    async::Task<std::optional<Facts>> looking = inspect(url);
    if (!co_await looking)
        co_return url;
    for (int number = 1;; ++number) {
        const URL candidate = folder.appendingPathComponent(copyName(base, extension, number));
        async::Task<std::optional<Facts>> trying = inspect(candidate);
        if (!co_await trying)
            co_return candidate;
    }
}

namespace {

std::function<void(const QString&, const URL&)>& stepHook() {
    static std::function<void(const QString&, const URL&)> hook;
    return hook;
}

// The same place whatever the spelling ("a//b/", "a/./b").
QString locationKey(const URL& url) {
    return url.scheme() + QLatin1String("://") + url.host() + TransferPlacement::normalizedPath(url.path());
}

// Whether a failed rename is known not to have happened: a refusal that came back as an answer.
// A lost connection or a stop leaves it open.
bool provesNothingHappened(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const NameTakenError&) {
        return true;
    } catch (const FileError&) {
        return true;
    } catch (const AFCError& afcError) {
        return !afcError.isConnectionLost();
    } catch (const TransferError&) {
        return true;
    } catch (...) {
        return false;
    }
}

bool meansNameTaken(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const NameTakenError&) {
        return true;
    } catch (const FileError& fileError) {
        return fileError.code() == EEXIST || fileError.code() == ENOTEMPTY;
    } catch (...) {
        return false;
    }
}

QString sessionKey(const AFCComponents& components) {
    return components.udid + QLatin1Char('\n') + components.bundleID.value_or(QString());
}

} // namespace

bool TransferPlacement::hasOpenedSession(const AFCComponents& components) const {
    return m_openedSessions.contains(sessionKey(components));
}

async::Task<void> TransferPlacement::openSession(AFCComponents components) {
    AFCBridge& bridge = requireBridge();
    if (hasOpenedSession(components))
        co_return;
    async::Task<void> opening = components.bundleID ? bridge.connectApp(components.udid, *components.bundleID)
                                                    : bridge.connect(components.udid);
    co_await opening;
    m_openedSessions.insert(sessionKey(components));
}

async::Task<bool> TransferPlacement::makeFolder(URL url) {
    if (!isDevice(url)) {
        async::Task<bool> making =
            m_executor->run([path = url.toLocalFile()] { return LocalTransferFiles::makeFolder(path); });
        co_return co_await making;
    }
    AFCBridge& bridge = requireBridge();
    const AFCComponents components = deviceComponents(url, QStringLiteral("AFC bridge not available: "));
    async::Task<std::optional<Facts>> looking = inspect(url);
    const std::optional<Facts> facts = co_await looking;
    if (facts) {
        if (!facts->isDirectory)
            throw TransferError::ioError(QStringLiteral("A file is in the way of the folder ") +
                                         url.absoluteString());
        co_return false;
    }
    async::Task<void> session = openSession(components);
    co_await session;
    async::Task<void> making =
        bridge.makeDirectory(components.udid, components.devicePath, components.bundleID);
    co_await making;
    co_return true;
}

void TransferPlacement::setStepHookForTesting(std::function<void(const QString&, const URL&)> hook) {
    stepHook() = std::move(hook);
}

async::Task<void> TransferPlacement::rename(URL from, URL to) {
    if (!isDevice(from)) {
        async::Task<void> renaming = m_executor->run([from = from.toLocalFile(), to = to.toLocalFile()] {
            LocalFileOperations::renameWithoutReplacing(from, to);
        });
        co_await renaming;
        co_return;
    }
    AFCBridge& bridge = requireBridge();
    const AFCComponents source = deviceComponents(from, QStringLiteral("Invalid afc URL: "));
    const AFCComponents target = deviceComponents(to, QStringLiteral("Invalid afc URL: "));
    // A device's rename replaces what it meets: it must find the name free first.
    async::Task<std::optional<Facts>> looking = inspect(to);
    if (co_await looking)
        throw NameTakenError(to.absoluteString());
    async::Task<void> session = openSession(source);
    co_await session;
    async::Task<void> renaming =
        bridge.renameItem(source.udid, source.devicePath, target.devicePath, source.bundleID);
    co_await renaming;
}

async::Task<bool> TransferPlacement::putBack(URL from, URL to) {
    if (!isDevice(from)) {
        async::Task<void> renaming = rename(from, to);
        co_await renaming;
        co_return false;
    }
    AFCBridge& bridge = requireBridge();
    const AFCComponents source = deviceComponents(from, QStringLiteral("Invalid afc URL: "));
    const AFCComponents target = deviceComponents(to, QStringLiteral("Invalid afc URL: "));
    async::Task<void> session = openSession(source);
    co_await session;
    async::Task<AFCPutBack> putting =
        bridge.putBack(source.udid, source.devicePath, target.devicePath, source.bundleID);
    const AFCPutBack put = co_await putting;
    if (put == AFCPutBack::taken)
        throw NameTakenError(to.absoluteString());
    co_return put == AFCPutBack::linkedBesideOld;
}

async::Task<TransferPlacement::Aside> TransferPlacement::setAside(URL given) {
    // Without a final "/": a rename of "name/" would only ever reach a folder.
    const URL url = given.deletingLastPathComponent().appendingPathComponent(given.lastPathComponent());
    Aside aside;
    aside.original = url;
    aside.hidden = url.deletingLastPathComponent().appendingPathComponent(AFCPath::asideName());
    aside.entry.kind = LeftoverJournal::Kind::asideItem;
    if (isDevice(url)) {
        const AFCComponents original = deviceComponents(url, QStringLiteral("Invalid afc URL: "));
        aside.entry.udid = original.udid;
        aside.entry.bundleID = original.bundleID.value_or(QString());
        aside.entry.originalPath = original.devicePath;
        aside.entry.path = deviceComponents(aside.hidden, QStringLiteral("Invalid afc URL: ")).devicePath;
    } else {
        aside.entry.originalPath = url.toLocalFile();
        aside.entry.path = aside.hidden.toLocalFile();
    }
    // Written down before the rename: a crash right after it must still find the old item.
    async::Task<bool> writing = journalBegin(aside.entry);
    if (!co_await writing) {
        async::Task<void> striking = journalFinished(aside.entry);
        co_await striking;
        throw TransferError::ioError(
            QStringLiteral("\"%1\" was not replaced: the list of items set aside could not be written")
                .arg(url.lastPathComponent()));
    }
    async::Task<void> renaming = rename(url, aside.hidden);
    async::detail::Outcome<void> renamed = co_await async::detail::settle(std::move(renaming));
    if (renamed.error()) {
        // A rename whose answer never came (the device went away) may well have happened: the
        // entry stays, and the next session puts the item back should it be under the hidden name.
        if (provesNothingHappened(renamed.error())) {
            async::Task<void> striking = journalFinished(aside.entry);
            co_await striking;
        } else {
            async::Task<void> releasing = journalReleased(aside.entry);
            co_await releasing;
        }
        std::rethrow_exception(renamed.error());
    }
    Logger::transfer().debug("Set aside %s while it is replaced", url.absoluteString());
    if (stepHook())
        stepHook()(QStringLiteral("aside"), url);
    co_return aside;
}

async::Task<void> TransferPlacement::settleAside(Aside aside, bool replaced) {
    if (replaced) {
        if (stepHook())
            stepHook()(QStringLiteral("named"), aside.original);
        // The old item goes only once the new one is on the disk under its name and that is
        // written down: a power cut must never leave neither.
        async::Task<bool> recording = recordReplaced(aside);
        const bool recorded = co_await recording;
        if (recorded) {
            if (stepHook())
                stepHook()(QStringLiteral("whole"), aside.original);
            async::Task<void> removing = removeItem(aside.hidden);
            async::detail::Outcome<void> removed = co_await async::detail::settle(std::move(removing));
            if (!removed.error()) {
                async::Task<void> striking = journalFinished(aside.entry);
                co_await striking;
                co_return;
            }
            Logger::transfer().error("Could not remove %s, replaced by %s; it goes at the next clean-up: %s",
                                     aside.hidden.absoluteString(), aside.original.absoluteString(),
                                     async::describeException(removed.error()));
            async::Task<void> releasing = journalReleased(aside.entry);
            co_await releasing;
            co_return;
        }
        Logger::transfer().error("The replacement of %s could not be made safe; the old item is kept beside it",
                                 aside.original.absoluteString());
    }
    async::Task<bool> restoring = restoreAside(aside);
    const bool restored = co_await restoring;
    if (restored) {
        async::Task<void> striking = journalFinished(aside.entry);
        co_await striking;
        co_return;
    }
    Logger::transfer().error("%s, set aside for %s, is left for a later clean-up",
                             aside.hidden.absoluteString(), aside.original.absoluteString());
    async::Task<void> releasing = journalReleased(aside.entry);
    co_await releasing;
}

async::Task<bool> TransferPlacement::recordReplaced(Aside aside) {
    if (!isDevice(aside.original)) {
        // A device's file is on its storage once closed; this computer's may still be in memory.
        async::Task<void> flushing = m_executor->run(
            [path = aside.original.toLocalFile()] { LocalTransferFiles::flushToDisk(path); });
        async::detail::Outcome<void> flushed = co_await async::detail::settle(std::move(flushing));
        if (flushed.error()) {
            Logger::transfer().error("Could not flush %s: %s", aside.original.absoluteString(),
                                     async::describeException(flushed.error()));
            co_return false;
        }
    }
    async::Task<bool> recording = m_executor->run(
        [journal = m_journal, entry = aside.entry] { return journal->recordReplaced(entry); });
    async::detail::Outcome<bool> recorded = co_await async::detail::settle(std::move(recording));
    co_return !recorded.error() && recorded.get();
}

async::Task<bool> TransferPlacement::restoreAside(Aside aside) {
    // Under its own name when that is free; when something else took it meanwhile (another
    // program, a second window), beside it under a free " copy" name: never removed.
    URL target = aside.original;
    for (int attempt = 0; attempt < 4; ++attempt) {
        async::Task<bool> restoring = putBack(aside.hidden, target);
        async::detail::Outcome<bool> restored = co_await async::detail::settle(std::move(restoring));
        if (!restored.error()) {
            if (attempt > 0)
                Logger::transfer().info("Put %s back as %s: its name was taken meanwhile",
                                        aside.original.absoluteString(), target.absoluteString());
            if (!restored.get())
                co_return true;
            // Back under its name by a second link, its hidden name still there: that one is only
            // to be removed now, which the record of a finished replacement has the clean-up do.
            async::Task<bool> recording = recordReplaced(aside);
            co_await recording;
            co_return false;
        }
        if (!meansNameTaken(restored.error())) {
            Logger::transfer().error("Could not put back %s: %s", aside.hidden.absoluteString(),
                                     async::describeException(restored.error()));
            co_return false;
        }
        async::Task<URL> naming = uniqueDestination(aside.original);
        async::detail::Outcome<URL> named = co_await async::detail::settle(std::move(naming));
        if (named.error())
            co_return false;
        target = named.get();
    }
    co_return false;
}

async::Task<bool> TransferPlacement::journalBegin(LeftoverJournal::Entry entry) {
    return m_executor->run([journal = m_journal, entry = std::move(entry)] { return journal->begin(entry); });
}

namespace {

// A journal write whose failure (or drop, when the transfer goes) leaves its entry for later.
async::Task<void> writeQuietly(async::Task<void> writing) {
    async::detail::Outcome<void> written = co_await async::detail::settle(std::move(writing));
    if (written.error())
        Logger::transfer().debug("Leftover journal not updated: %s", async::describeException(written.error()));
}

} // namespace

async::Task<void> TransferPlacement::journalFinished(LeftoverJournal::Entry entry) {
    return writeQuietly(m_executor->run([journal = m_journal, entry = std::move(entry)] { journal->finished(entry); }));
}

async::Task<void> TransferPlacement::journalReleased(LeftoverJournal::Entry entry) {
    return writeQuietly(m_executor->run([journal = m_journal, entry = std::move(entry)] { journal->released(entry); }));
}

async::Task<void> TransferPlacement::journalSettled(LeftoverJournal::Entry entry) {
    // An entry of no shape of ours is one the clean-up would only drop (a folder built under a
    // hidden name, which the build's own entry covers).
    if (!LeftoverCleanup::isOwnEntry(entry)) {
        async::Task<void> striking = journalFinished(entry);
        co_await striking;
        co_return;
    }
    async::detail::Outcome<bool> settled;
    if (!entry.udid.isEmpty()) {
        if (m_bridge) {
            async::Task<bool> settling = m_bridge->settleLeftover(entry);
            settled = co_await async::detail::settle(std::move(settling));
        }
    } else {
        // As written down: what identifies its folder was filled in then, and only that proves
        // an item's absence to be an outcome.
        async::Task<bool> settling = m_executor->run([journal = m_journal, entry] {
            return LocalLeftovers::settle(journal->recorded(entry).value_or(entry));
        });
        settled = co_await async::detail::settle(std::move(settling));
    }
    if (settled.error())
        Logger::transfer().info("%s is left for a later clean-up: %s", entry.path,
                                async::describeException(settled.error()));
    if (settled.isSet() && !settled.error() && settled.get()) {
        async::Task<void> striking = journalFinished(entry);
        co_await striking;
        co_return;
    }
    async::Task<void> releasing = journalReleased(entry);
    co_await releasing;
}

void TransferPlacement::noteCreated(const URL& url) {
    const qsizetype before = m_created.size();
    m_created.insert(locationKey(url));
    if (m_created.size() != before && !isDevice(url))
        m_createdURLs.append(url);
}

void TransferPlacement::expectCreated(qsizetype items, const URL& destination) {
    m_created.reserve(m_created.size() + items);
    if (!isDevice(destination))
        m_createdURLs.reserve(m_createdURLs.size() + items);
}

async::Task<bool> TransferPlacement::isCreatedHere(URL url) {
    if (m_created.contains(locationKey(url)))
        co_return true;
    if (isDevice(url))
        co_return false;
    // A name that differs only in case reaches the same file where the file system folds case.
    const QString folder = normalizedPath(url.deletingLastPathComponent().toLocalFile());
    QStringList candidates;
    for (const URL& created : std::as_const(m_createdURLs)) {
        if (normalizedPath(created.deletingLastPathComponent().toLocalFile()) == folder)
            candidates.append(created.toLocalFile());
    }
    if (candidates.isEmpty())
        co_return false;
    async::Task<bool> comparing = m_executor->run([path = url.toLocalFile(), candidates] {
        for (const QString& candidate : candidates) {
            if (LocalTransferFiles::isSameEntry(path, candidate))
                return true;
        }
        // Where each spelling gets an inode number of its own (FUSE), a name the folder does not
        // list was folded onto another entry: ours when it shows that one's facts. Taking a
        // stranger's file for ours costs only a question (it gets a free name); taking ours for a
        // stranger's would offer the copy just made for replacing, and the move would then delete
        // both sources. The folder is read only once the facts match, which a stranger's rarely do.
        for (const QString& candidate : candidates) {
            if (LocalTransferFiles::showSameFacts(path, candidate))
                return !LocalTransferFiles::isListedAsSpelled(path);
        }
        return false;
    });
    co_return co_await comparing;
}
