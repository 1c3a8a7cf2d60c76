#pragma once

#include "device/AFCComponents.h"
#include "platform/URL.h"
#include "platform/async/SerialExecutor.h"
#include "platform/async/Task.h"

#include <QSet>
#include <QString>

#include <memory>
#include <optional>

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

    TransferPlacement(std::shared_ptr<AFCBridge> bridge, std::shared_ptr<FileSystemProvider> provider,
                      std::shared_ptr<async::SerialExecutor> executor);

    const std::shared_ptr<AFCBridge>& bridge() const { return m_bridge; }
    const std::shared_ptr<FileSystemProvider>& provider() const { return m_provider; }
    async::SerialExecutor& executor() const { return *m_executor; }

    // By the URLs alone: same scheme; for device URLs the same device, container and path; for
    // file URLs the same path once "." and ".." are resolved; otherwise the same text.
    static bool isSameLocation(const URL& first, const URL& second);
    // The path with "." and ".." resolved and doubled "/" cleaned, and a final "/" dropped.
    static QString normalizedPath(const QString& path);
    // The name a " copy" of base.ext gets: "base copy.ext", then "base copy 2.ext", ... (number 1
    // means the first, unnumbered one). Without an extension no dot follows.
    static QString copyName(const QString& base, const QString& extension, int number);
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
    // A file, or a folder with all it holds. Not to the trash.
    async::Task<void> removeItem(URL url);
    // The URL itself when it is free, else the first free " copy" name beside it.
    async::Task<URL> uniqueDestination(URL url);
    // Opens the device session the URL needs (media area or app container), once for this
    // object: a transfer's files then go straight to their copies.
    async::Task<void> openSession(AFCComponents components);
    bool hasOpenedSession(const AFCComponents& components) const;
    // Makes a folder (on this computer with any missing parent; on a device the one folder).
    // True when it was made here, false when a folder was already there.
    async::Task<bool> makeFolder(URL url);

private:
    AFCBridge& requireBridge() const;
    async::Task<std::optional<Facts>> inspectDevice(URL url);

    std::shared_ptr<AFCBridge> m_bridge;
    std::shared_ptr<FileSystemProvider> m_provider;
    std::shared_ptr<async::SerialExecutor> m_executor;
    QSet<QString> m_openedSessions;
};
