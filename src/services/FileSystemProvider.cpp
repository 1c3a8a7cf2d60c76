#include "services/FileSystemProvider.h"

#include "device/AFCBridge.h"
#include "device/AFCComponents.h"
#include "device/AFCError.h"
#include "device/AFCPath.h"
#include "platform/Error.h"
#include "platform/Logger.h"
#include "platform/MemoryTrim.h"
#include "platform/async/ReleaseElsewhere.h"
#include "platform/async/Cancellation.h"
#include "platform/async/SystemContinuousClock.h"
#include "services/FileItemBuilder.h"
#include "services/LocalFileOperations.h"
#include "services/PreferencesViewController.h"

#include <libimobiledevice/afc.h>

#include <cerrno>
#include <exception>
#include <malloc.h>

namespace {

// A device listing this long hands the allocator's free memory back once it is built.
constexpr qsizetype bigListing = 1000;

// Ends an operation whose provider was destroyed while it waited.
void ensureAlive(const std::weak_ptr<const bool>& alive) {
    if (alive.expired())
        throw async::CancelledError{};
}

bool isAFC(const URL& url) {
    return url.scheme() == QLatin1String("afc");
}

AFCComponents split(const URL& url) {
    std::optional<AFCComponents> components = afcComponents(url);
    if (!components)
        throw AFCError::connectionFailed(QStringLiteral("Invalid afc URL: ") + url.absoluteString());
    return *components;
}

AFCError crossesPlaces(const URL& at, const URL& to) {
    return AFCError::renameFailed(
        QStringLiteral("cannot move an item between devices, app containers or the computer: ") +
        at.absoluteString() + QStringLiteral(" → ") + to.absoluteString());
}

// The first name on the way to a rename's destination that cannot be a file's name: "", "." or
// ".." would land the item elsewhere than the user sees, and a "/" or NUL in a name would be read
// as more than one name. Looked for in the encoded path, where an escaped "/" still shows as one
// character of one name.
std::optional<QString> refusedName(const URL& destination) {
    QString encoded = destination.encodedPath();
    if (encoded.endsWith(QLatin1Char('/')))
        encoded.chop(1);
    if (encoded.startsWith(QLatin1Char('/')))
        encoded.remove(0, 1);
    for (const QString& segment : encoded.split(QLatin1Char('/'))) {
        const QString name = QString::fromUtf8(QByteArray::fromPercentEncoding(segment.toUtf8()));
        if (!AFCPath::isSafeName(name))
            return name;
    }
    return std::nullopt;
}

QString shown(QString name) {
    return name.replace(QChar(u'\0'), QStringLiteral("%00"));
}

} // namespace

FileSystemProvider::FileSystemProvider(AFCBridge& afcBridge, async::ContinuousClock& clock)
    : m_afcBridge(afcBridge), m_clock(clock) {}

FileSystemProvider::FileSystemProvider(AFCBridge& afcBridge)
    : FileSystemProvider(afcBridge, async::SystemContinuousClock::shared()) {}

FileSystemProvider::FileSystemProvider(std::shared_ptr<AFCBridge> afcBridge)
    : m_afcBridgeOwner(std::move(afcBridge)), m_afcBridge(*m_afcBridgeOwner),
      m_clock(async::SystemContinuousClock::shared()) {}

FileSystemProvider::~FileSystemProvider() = default;

async::Task<QList<FileItem>> FileSystemProvider::listDirectory(URL at) {
    async::Task<FileListing> listing = cachedListing(std::move(at));
    co_return (co_await listing).items;
}

async::Task<FileListing> FileSystemProvider::listDirectoryDetailed(URL at,
                                                                   std::shared_ptr<AFCBridge> through) {
    return cachedListing(std::move(at), std::move(through));
}

async::Task<FileListing> FileSystemProvider::cachedListing(URL at, std::shared_ptr<AFCBridge> through) {
    if (const auto cached = m_cache.constFind(at); cached != m_cache.constEnd()) {
        const std::optional<quint64> source = listingSource(at);
        if (!source || source != cached->source) {
            // The device went away since, even if it is back already: it may have come back
            // locked or changed, and only the device can say what it holds now.
            m_cache.erase(cached);
        } else if (m_clock.now() - cached->timestamp < cacheDuration) {
            co_return cached->listing;
        }
    }

    // A reading on someone's behalf is that caller's alone: another joining it could fail with
    // its cancel, and it joins no other's either.
    const bool shared = !through || through.get() == &m_afcBridge;
    if (const auto flight = m_flights.value(at); shared && flight && flight->generation == m_generation) {
        auto join = [flight](async::Continuation<FileListing> continuation) {
            flight->waiters.append(std::move(continuation));
        };
        co_return co_await async::withContinuation<FileListing>(join);
    }

    const std::weak_ptr<const bool> alive = m_alive;
    const quint64 generation = m_generation;
    const auto flight = std::make_shared<Flight>();
    flight->generation = generation;
    if (shared)
        m_flights.insert(at, flight);
    FileListing listing;
    std::exception_ptr failure;
    try {
        async::Task<FileListing> reading = readListing(at, through);
        listing = co_await reading;
    } catch (...) {
        failure = std::current_exception();
    }
    // Those who joined get this answer, failure or cancellation included, also when the provider
    // has gone meanwhile: their frames wait on it.
    for (const async::Continuation<FileListing>& waiter : std::as_const(flight->waiters)) {
        if (failure)
            waiter.resumeWithException(failure);
        else
            waiter.resume(listing);
    }
    if (!alive.expired() && m_flights.value(at) == flight)
        m_flights.remove(at);
    if (failure)
        std::rethrow_exception(failure);
    ensureAlive(alive);
    // Emptied meanwhile: this answer may predate the change that emptied the cache (a transfer
    // that just finished), and must not hide it for the next half minute.
    if (generation == m_generation)
        m_cache.insert(at, CacheEntry{listing, m_clock.now(), listingSource(at)});
    // A big folder listed again (a copy filling the folder on screen) leaves the last listing's
    // room to give back once the views have taken this one.
    if (listing.items.size() >= bigListing)
        MemoryTrim::request();
    Logger::filesystem().debug("Listed %ld items at %s", listing.items.size(), at.absoluteString());
    co_return listing;
}

async::Task<FileListing> FileSystemProvider::readListing(URL at, std::shared_ptr<AFCBridge> through) {
    if (isAFC(at))
        return listAFCDirectoryDetailed(std::move(at), std::move(through));
    return listLocalDirectory(std::move(at));
}

std::optional<quint64> FileSystemProvider::listingSource(const URL& at) const {
    if (!isAFC(at))
        return 0;
    const std::optional<AFCComponents> components = afcComponents(at);
    if (!components)
        return std::nullopt;
    return m_afcBridge.connectedSession(components->udid, components->bundleID);
}

async::Task<FileListing> FileSystemProvider::listLocalDirectory(URL at) {
    const bool showHidden = PreferencesViewController::showHiddenFiles();
    return m_executor.run([at, showHidden] {
        if (!at.isFileURL())
            throw FileError(EINVAL, QStringLiteral("list"), at.absoluteString());
        FileItemBuilder builder;
        FileListing listing;
        for (const LocalFileOperations::Child& child : LocalFileOperations::children(at.toLocalFile())) {
            if (!FileItemBuilder::isShown(child.name, showHidden))
                continue;
            const URL url = URL::fileURL(child.path, child.facts.isDirectory);
            listing.items.append(builder.localItem(url, child.path, child.name, child.facts));
        }
        FileItemBuilder::sort(listing.items);
        return listing;
    });
}

async::Task<QList<FileItem>> FileSystemProvider::listAFCDirectory(URL at) {
    async::Task<FileListing> listing = listAFCDirectoryDetailed(std::move(at), {});
    co_return (co_await listing).items;
}

async::Task<FileListing> FileSystemProvider::listAFCDirectoryDetailed(URL at,
                                                                      std::shared_ptr<AFCBridge> through) {
    const AFCComponents components = split(at);
    const std::weak_ptr<const bool> alive = m_alive;
    AFCBridge& bridge = bridgeFor(through);
    async::Task<void> session = openSession(bridge, components);
    co_await session;
    ensureAlive(alive);
    async::Task<AFCDirectoryListing> reading =
        bridge.listDirectoryDetailed(components.udid, components.devicePath, components.bundleID);
    AFCDirectoryListing read = co_await reading;
    ensureAlive(alive);

    // The bridge fails the whole listing when the connection goes; what it leaves out is single
    // entries it could not read, and those must not vanish unnoticed.
    if (!read.skippedNames.isEmpty()) {
        Logger::filesystem().error("Listing of %s left out %ld unreadable entries: %s", at.absoluteString(),
                                   read.skippedNames.size(), read.skippedNames.join(QStringLiteral(", ")));
    }
    if (read.entries.isEmpty()) {
        Logger::filesystem().error("Empty listing for %s (bundleID: %s)", at.absoluteString(),
                                   components.bundleID.value_or(QStringLiteral("none")));
        FileListing empty;
        empty.skippedNames = read.skippedNames;
        empty.skipReasons = read.skipReasons;
        co_return empty;
    }

    const bool showHidden = PreferencesViewController::showHiddenFiles();
    async::Task<FileListing> building =
        m_deviceExecutor.run([read = std::move(read), components, showHidden]() mutable {
            FileItemBuilder builder;
            FileListing listing;
            listing.items = builder.deviceListing(read.entries, components, showHidden);
            listing.skippedNames = read.skippedNames;
            listing.skipReasons = read.skipReasons;
            if (read.entries.size() >= bigListing) {
                // Reading a folder of thousands of entries went through several times their size in
                // memory, all freed once the entries go: glibc keeps freed memory for reuse rather
                // than giving it back, so it is handed back here, once, away from the main thread.
                read.entries = {};
                malloc_trim(0);
            }
            return listing;
        });
    FileListing listing = co_await building;
    ensureAlive(alive);
    co_return listing;
}

async::Task<void> FileSystemProvider::openSession(AFCBridge& bridge, AFCComponents components) {
    if (components.bundleID)
        return bridge.connectApp(components.udid, *components.bundleID);
    return bridge.connect(components.udid);
}

async::Task<FileItem> FileSystemProvider::afcItem(URL at, std::shared_ptr<AFCBridge> through) {
    const AFCComponents components = split(at);
    const std::weak_ptr<const bool> alive = m_alive;
    AFCBridge& bridge = bridgeFor(through);
    async::Task<void> session = openSession(bridge, components);
    co_await session;
    ensureAlive(alive);
    async::Task<AFCFileInfo> reading =
        bridge.fileInfo(components.udid, components.devicePath, components.bundleID);
    AFCFileInfo info = co_await reading;
    ensureAlive(alive);
    // Asked for by name, so returned whatever the hidden-files setting says.
    async::Task<FileItem> building = m_deviceExecutor.run([info = std::move(info), at, components] {
        const QString name =
            info.value(QStringLiteral("Name"), AFCPath::lastComponent(components.devicePath));
        FileItemBuilder builder;
        return builder.deviceItem(info, at, name);
    });
    FileItem item = co_await building;
    ensureAlive(alive);
    co_return item;
}

async::Task<FileItem> FileSystemProvider::localItem(URL at) {
    return m_executor.run([at] {
        const QString path = at.toLocalFile();
        const LocalFacts facts = LocalFileOperations::facts(path);
        FileItemBuilder builder;
        return builder.localItem(at, path, at.lastPathComponent(), facts);
    });
}

async::Task<QString> FileSystemProvider::lookLocally(std::function<QString()> look) {
    return m_executor.run(std::move(look));
}

async::Task<void> FileSystemProvider::renameItem(URL at, URL to) {
    const std::weak_ptr<const bool> alive = m_alive;
    if (at.scheme() == QLatin1String("file")) {
        async::Task<void> moving = renameLocalItem(at, to);
        co_await moving;
    } else {
        async::Task<void> moving = renameAFCItem(at, to);
        co_await moving;
    }
    ensureAlive(alive);
    invalidateCache();
    Logger::filesystem().info("Renamed %s → %s", at.lastPathComponent(), to.lastPathComponent());
}

async::Task<void> FileSystemProvider::renameLocalItem(URL at, URL to) {
    return m_executor.run([at, to] {
        if (to.scheme() != QLatin1String("file"))
            throw crossesPlaces(at, to);
        if (const std::optional<QString> name = refusedName(to))
            throw FileError(EINVAL, QStringLiteral("rename to"), shown(*name));
        LocalFileOperations::renameWithoutReplacing(at.toLocalFile(), to.toLocalFile());
    });
}

async::Task<void> FileSystemProvider::renameAFCItem(URL at, URL to) {
    const AFCComponents source = split(at);
    if (!isAFC(to))
        throw crossesPlaces(at, to);
    if (const std::optional<QString> name = refusedName(to))
        throw AFCError::renameFailed(QStringLiteral("invalid name \"") + shown(*name) + QLatin1Char('"'));
    const AFCComponents target = split(to);
    // The bridge renames within one session: the destination's device and container would
    // otherwise be ignored, and the item renamed on the source to the destination's path.
    if (source.udid != target.udid || source.bundleID != target.bundleID)
        throw crossesPlaces(at, to);

    // AFC replaces whatever has the new name, so look for it first. Another client could still
    // create it in between; AFC offers no rename that refuses to replace.
    const std::weak_ptr<const bool> alive = m_alive;
    bool exists = false;
    std::exception_ptr failure;
    try {
        async::Task<AFCFileInfo> probe =
            m_afcBridge.fileInfo(target.udid, target.devicePath, target.bundleID);
        co_await probe;
        exists = true;
    } catch (const AFCError& error) {
        if (error.libraryResult() != AFC_E_OBJECT_NOT_FOUND)
            failure = std::current_exception();
    }
    ensureAlive(alive);
    if (failure)
        std::rethrow_exception(failure);
    if (exists) {
        // EEXIST, as on the computer: the window tells a name taken from other failures by it.
        throw AFCError::withPosixError(AFCError::Case::renameFailed,
                                       QStringLiteral("an item named \"") +
                                           AFCPath::lastComponent(target.devicePath) +
                                           QStringLiteral("\" already exists in ") +
                                           AFCPath::parent(target.devicePath),
                                       EEXIST);
    }
    async::Task<void> renaming =
        m_afcBridge.renameItem(source.udid, source.devicePath, target.devicePath, source.bundleID);
    co_await renaming;
}

async::Task<void> FileSystemProvider::deleteItem(FileItem item) {
    const std::weak_ptr<const bool> alive = m_alive;
    if (item.path().scheme() == QLatin1String("file")) {
        async::Task<void> trashing =
            m_executor.run([path = item.path().toLocalFile()] { LocalFileOperations::moveToTrash(path); });
        co_await trashing;
    } else {
        const AFCComponents components = split(item.path());
        // A root cannot be removed anyway; removing everything inside it first would be a disaster.
        if (components.devicePath == QLatin1String("/")) {
            throw AFCError::deleteFailed(QStringLiteral("refusing to delete the root ") +
                                         item.path().absoluteString());
        }
        async::Task<void> removal =
            item.isDirectory()
                ? m_afcBridge.removeRecursively(components.udid, components.devicePath, components.bundleID)
                : m_afcBridge.removeItem(components.udid, components.devicePath, components.bundleID);
        co_await removal;
    }
    ensureAlive(alive);
    invalidateCache();
    Logger::filesystem().info("Deleted %s", item.name());
}

void FileSystemProvider::invalidateCache(std::optional<URL> url) {
    ++m_generation;
    // The listings go elsewhere: the last copy of a folder of 100,000 items (one no view shows
    // any more) takes tens of milliseconds to free, at the end of every transfer.
    if (!url) {
        if (!m_cache.isEmpty())
            async::releaseElsewhere(std::exchange(m_cache, {}));
        return;
    }
    if (const auto entry = m_cache.constFind(*url); entry != m_cache.constEnd()) {
        FileListing listing = entry->listing;
        m_cache.erase(entry);
        async::releaseElsewhere(std::move(listing));
    }
}

Date FileSystemProvider::dateFromAFCTime(std::optional<QString> text) {
    return FileItemBuilder::dateFromAFCTime(text);
}
