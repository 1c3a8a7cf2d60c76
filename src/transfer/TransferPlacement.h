#pragma once

#include "device/AFCComponents.h"
#include "device/AFCPath.h"
#include "device/LeftoverJournal.h"
#include "platform/URL.h"
#include "platform/UiTimerSource.h"
#include "platform/async/SerialExecutor.h"
#include "platform/async/Task.h"

#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class AFCBridge;
class FileSystemProvider;

// Where items go: whether two locations are one item, what is already at a location, removing
// it, finding a free " copy" name beside it, making a folder. Device locations go through the
// file-system provider or the bridge, this computer's through blocking work on the executor.
//
// Coroutines of this object need it alive until they end: callers hold it by shared_ptr.
class TransferPlacement {
public:
    struct Facts {
        bool isDirectory = false;
    };

    // An old item renamed to a hidden name beside itself while its replacement is made, and the
    // journal entry that lets a later run put things right should this one never finish.
    struct Aside {
        URL original;
        URL hidden;
        LeftoverJournal::Entry entry;
    };

    // Device requests made for a transfer that token cancels are cut when the device holds them
    // past the cancel (see AFCBridge::forRequestsOf: bridge() is such a view), their grace timed by
    // timers; without timers they are never cut here. Those made through the file-system provider
    // are made through bridge() too.
    TransferPlacement(std::shared_ptr<AFCBridge> bridge, std::shared_ptr<FileSystemProvider> provider,
                      std::shared_ptr<async::SerialExecutor> executor, std::stop_token token = {},
                      UiTimerSource* timers = nullptr);
    // What the transfer made (a name for each of its files) is freed elsewhere, not on the
    // window's thread.
    ~TransferPlacement();
    TransferPlacement(const TransferPlacement&) = delete;
    TransferPlacement& operator=(const TransferPlacement&) = delete;

    const std::shared_ptr<AFCBridge>& bridge() const { return m_bridge; }
    const std::shared_ptr<FileSystemProvider>& provider() const { return m_provider; }
    async::SerialExecutor& executor() const { return *m_executor; }

    // By the URLs alone: same scheme; for device URLs the same device, container and path; for
    // file URLs the same path once "." and ".." are resolved; otherwise the same text.
    static bool isSameLocation(const URL& first, const URL& second);
    // The path with "." and ".." resolved and doubled "/" cleaned, and a final "/" dropped.
    static QString normalizedPath(const QString& path);
    // The name a " copy" of base.ext gets: "base copy.ext", then "base copy 2.ext", ... (number 1
    // means the first, unnumbered one). Without an extension no dot follows. A name whose UTF-8
    // form would be longer than limitBytes loses whole characters at the end of base until it fits.
    static QString copyName(const QString& base, const QString& extension, int number, int limitBytes = 255);
    // The device, path and container of a device URL; TransferError ioError with prefix and the
    // URL when it does not split.
    static AFCComponents deviceComponents(const URL& url, const QString& errorPrefix);

    // isSameLocation, or for two items on this computer the same file by identity (a hard link, a
    // folder reached through a link, a name differing only in case on a volume that ignores it).
    async::Task<bool> isSameItem(URL first, URL second);
    // Whether inner is outer itself or lies somewhere below it (links resolved on this computer).
    async::Task<bool> isAtOrBelow(URL inner, URL outer);
    // Nothing when nothing has that name. On a device only "object not found" means that: any
    // other failure to look is raised, for a location we cannot see may well hold something.
    async::Task<std::optional<Facts>> inspect(URL url);
    // As inspect, for an item the user chose to copy or move: a computer name that may stand for
    // another file (see LocalTransferFiles::nameIsAmbiguous) fails with "name is not valid text",
    // so that the other file is never copied, nor the chosen one deleted, in its place.
    async::Task<std::optional<Facts>> inspectSource(URL url);
    // A file, or a folder with all it holds. Not to the trash.
    async::Task<void> removeItem(URL url);
    // The URL itself when it is free, else the first free " copy" name beside it, short enough
    // for the file system's limit on names.
    async::Task<URL> uniqueDestination(URL url);

    // --- replacing without ever holding less than before ---
    // Renames what is at url to a hidden name in its folder, written down in the journal first.
    async::Task<Aside> setAside(URL given);
    // Ends an aside. With replaced, the new item has the name: it is flushed to the disk, that is
    // recorded in the journal, and only then the old one goes. Otherwise (or when that record
    // could not be made) the old one is put back under its name, or under a free " copy" name
    // beside it when something else took the name meanwhile; it is never removed. A step that
    // fails (the device went away) leaves the journal's entry for a later run; never throws.
    async::Task<void> settleAside(Aside aside, bool replaced);
    // Renames an item on one side; never over an existing item (NameTakenError).
    async::Task<void> rename(URL from, URL to);
    // As rename, but on a device by a link where it links, so that an item another program
    // writes under to meanwhile is never replaced (see AFCItemOperations::putBack): how an item set
    // aside comes back, and how a move gives a file its new name. True when the old name could not
    // be removed after the link: the same item under both names, the old one to be removed later.
    async::Task<bool> putBack(URL from, URL to);
    // The journal that asides and hidden builds are written down in. Its writes (an item set
    // aside is synced to the disk) run on the executor, never on the main thread. begin answers
    // whether the entry was written; finished and released never fail: an entry they could not
    // strike stays for the clean-up at the next start.
    async::Task<bool> journalBegin(LeftoverJournal::Entry entry);
    async::Task<void> journalFinished(LeftoverJournal::Entry entry);
    async::Task<void> journalReleased(LeftoverJournal::Entry entry);
    // For a copy that ended short (failed or cancelled): puts right now what the entry stands
    // for, by the clean-up's rule, and strikes it only then; whatever cannot be put right now (a
    // device cut off, a refusal) releases it for the next session or start. Never fails.
    async::Task<void> journalSettled(LeftoverJournal::Entry entry);
    // For the executor's jobs, which write in it themselves (a copy's partial file).
    const std::shared_ptr<LeftoverJournal>& journal() const { return m_journal; }
    // Called between the steps of a replacement ("aside": the old item is aside and nothing is
    // copied yet; "named": the new item has the name, nothing more is recorded; "whole": that it
    // is whole and named is recorded, the old one is still aside): a test sees there what a crash
    // at that moment would leave.
    static void setStepHookForTesting(std::function<void(const QString& step, const URL& original)> hook);

    // --- what this object's transfer made ---
    // The mark every partial copy of the transfer carries in its name (AFCPath::partialCopyName),
    // also written in the journal's entry of each folder it makes: that folder's clean-up then
    // takes only the transfer's own partial copies, never another copy's writing there.
    const QString& partialMark() const { return m_partialMark; }
    // A file or folder the transfer created: it is never offered to be replaced by a later item
    // of the same transfer.
    void noteCreated(const URL& url);
    // Makes room for that many created items into destination at once: a camera roll's record
    // then never grows in a pause of the window's thread (a hash of 65,536 names made anew).
    void expectCreated(qsizetype items, const URL& destination);
    // Whether url names an item the transfer created (on this computer also under a name that
    // differs only in case, on a file system that folds case).
    async::Task<bool> isCreatedHere(URL url);
    // Opens the device session the URL needs (media area or app container), once for this
    // object: a transfer's files then go straight to their copies.
    async::Task<void> openSession(AFCComponents components);
    bool hasOpenedSession(const AFCComponents& components) const;
    // Makes a folder (on this computer with any missing parent; on a device the one folder).
    // True when it was made here, false when a folder was already there.
    async::Task<bool> makeFolder(URL url);

private:
    AFCBridge& requireBridge() const;
    // Flushes a replacement on this computer and records that it is whole; false when either
    // failed.
    async::Task<bool> recordReplaced(Aside aside);
    // Renames the old item back (see settleAside); false when it could not be.
    async::Task<bool> restoreAside(Aside aside);
    async::Task<std::optional<Facts>> inspectDevice(URL url);

    std::shared_ptr<AFCBridge> m_bridge;
    std::shared_ptr<FileSystemProvider> m_provider;
    std::shared_ptr<async::SerialExecutor> m_executor;
    QSet<QString> m_openedSessions;
    std::shared_ptr<LeftoverJournal> m_journal = LeftoverJournal::shared();
    QSet<QString> m_created;
    QList<URL> m_createdURLs;
    const QString m_partialMark = AFCPath::partialCopyMark();
};
