#pragma once

#include "models/FileItem.h"
#include "platform/URL.h"
#include "platform/async/Continuation.h"
#include "platform/async/ContinuousClock.h"
#include "platform/async/SerialExecutor.h"
#include "platform/async/Task.h"
#include "services/FileListing.h"

#include <QHash>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class AFCBridge;
struct AFCComponents;

// The one service through which the browsers, the sidebar, the clipboard and the transfer engine
// list, inspect, rename and delete items, on this computer or on a device: an "afc" URL is served
// through the shared AFCBridge, any other through the local file system.
//
// Listings are cached per folder URL (the exact text: afc://U/DCIM and afc://U/DCIM/ are two
// entries) and served for cacheDuration without asking again; a rename or delete through the
// provider empties the whole cache, as does invalidateCache() from outside. A device's listing is
// served only while the session to the device (or to the app) is up: once its connection has gone,
// the entry is dropped, so that a device that comes back, perhaps locked, is asked again. A
// listing that was under way when the cache or any entry was invalidated still answers its
// caller, but is not stored: it may have read the folder before the change that called for the
// invalidation.
//
// An actor: the operations are called on the main thread and return tasks to await; local file
// work runs on the provider's own executor, device work on the bridge's (its items are built on
// an executor of their own). Between awaits other operations run. A listing asked for while one
// of the same folder is under way, with no
// invalidation since it began, waits for that one's answer instead of reading the folder again:
// the browsers that follow one folder read it once and hold one list between them. The operations that the interface calls are virtual, so that its tests can delay, fail
// or record them. The bridge and the clock must outlive the provider; a provider destroyed while
// an operation waits ends that operation with async::CancelledError.
class FileSystemProvider {
public:
    static constexpr std::chrono::seconds cacheDuration{30};

    explicit FileSystemProvider(AFCBridge& afcBridge, async::ContinuousClock& clock);
    // With the system's continuous clock.
    explicit FileSystemProvider(AFCBridge& afcBridge);
    // Keeps the bridge for as long as the provider lives: an interface's listing tasks can hold
    // the provider past the owner of the bridge, and must never reach a destroyed bridge.
    explicit FileSystemProvider(std::shared_ptr<AFCBridge> afcBridge);
    virtual ~FileSystemProvider();
    FileSystemProvider(const FileSystemProvider&) = delete;
    FileSystemProvider& operator=(const FileSystemProvider&) = delete;

    AFCBridge& afcBridge() const { return m_afcBridge; }

    // The items of a folder, folders first, in natural name order; hidden items only while the
    // setting "showHiddenFiles" is on, and copies in progress never. Served from the cache while
    // fresh. Errors: AFCError for a device, FileError for this computer.
    virtual async::Task<QList<FileItem>> listDirectory(URL at);
    // As listDirectory, with the names of children that could not be read: for callers that
    // must not take the items for the whole folder. With through (a transfer's view of the bridge,
    // AFCBridge::forRequestsOf), a device folder that must be read is read as that transfer's
    // request, never shared with another caller's reading of it (a cancel of the transfer may
    // fail it).
    virtual async::Task<FileListing> listDirectoryDetailed(URL at, std::shared_ptr<AFCBridge> through = {});
    // Renames or moves one item within one place: this computer, one device's media area, or one
    // app's container. Refuses to replace an existing item, a new name that is empty, ".", "..",
    // or holds "/" or NUL, and a destination in another place. Relies on the session that listing
    // the folder opened.
    virtual async::Task<void> renameItem(URL at, URL to);
    // Moves an item of this computer to the trash; removes a device item, a folder with all it
    // holds. Refuses a device's root.
    virtual async::Task<void> deleteItem(FileItem item);
    // Removes one folder's entry, or with no URL every entry.
    virtual void invalidateCache(std::optional<URL> url = std::nullopt);
    // The device half of listDirectory, without the cache.
    virtual async::Task<QList<FileItem>> listAFCDirectory(URL at);
    // The item at one "afc" URL, hidden or not; with through, asked as listDirectoryDetailed's.
    virtual async::Task<FileItem> afcItem(URL at, std::shared_ptr<AFCBridge> through = {});
    // The item at one file URL.
    virtual async::Task<FileItem> localItem(URL at);
    // Runs a look at this computer's disk (which names a folder holds, say) on the provider's
    // executor: a folder on a share that stopped answering holds the look, never the window. The
    // look must hold all it touches: the provider's end or a quit may leave it to its thread.
    async::Task<QString> lookLocally(std::function<QString()> look);

    // A device's modification time text (nanoseconds since 1970) as a date; the distant past when
    // absent or not a number.
    static Date dateFromAFCTime(std::optional<QString> text);

private:
    struct CacheEntry {
        FileListing listing;
        async::ContinuousClock::Instant timestamp;
        std::optional<quint64> source; // listingSource() when it was read
    };

    // The callers waiting on a listing under way, and the invalidation count when it began.
    struct Flight {
        quint64 generation = 0;
        QList<async::Continuation<FileListing>> waiters;
    };

    async::Task<FileListing> cachedListing(URL at, std::shared_ptr<AFCBridge> through = {});
    async::Task<FileListing> readListing(URL at, std::shared_ptr<AFCBridge> through);
    // What a listing of at is read through: 0 on this computer, the device's open session (its
    // number changes when the session is replaced), none while the session is down.
    std::optional<quint64> listingSource(const URL& at) const;
    async::Task<FileListing> listLocalDirectory(URL at);
    async::Task<FileListing> listAFCDirectoryDetailed(URL at, std::shared_ptr<AFCBridge> through);
    async::Task<void> renameLocalItem(URL at, URL to);
    async::Task<void> renameAFCItem(URL at, URL to);
    // The bridge a device request goes through: through when given, else the provider's own.
    AFCBridge& bridgeFor(const std::shared_ptr<AFCBridge>& through) const {
        return through ? *through : m_afcBridge;
    }
    static async::Task<void> openSession(AFCBridge& bridge, AFCComponents components);

    std::shared_ptr<AFCBridge> m_afcBridgeOwner;
    AFCBridge& m_afcBridge;
    async::ContinuousClock& m_clock;
    QHash<URL, CacheEntry> m_cache;
    QHash<URL, std::shared_ptr<Flight>> m_flights;
    // Counts invalidations, of one entry or all: a listing stores its answer only when none
    // happened while it ran.
    quint64 m_generation = 0;
    // Operations hold a weak reference across their awaits and stop when the provider is gone.
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
    // Its jobs capture values only: one that waits on a share that stopped answering is left to
    // its thread when the provider ends or the program quits.
    async::SerialExecutor m_executor{QStringLiteral("FileSystemProvider"),
                                     async::SerialExecutor::Leavable{std::chrono::milliseconds(50)}};
    // Builds the items of device listings: never behind a look at a computer folder, which a
    // share that stopped answering holds for as long as it is silent.
    async::SerialExecutor m_deviceExecutor{QStringLiteral("FileSystemProvider.device")};
};
