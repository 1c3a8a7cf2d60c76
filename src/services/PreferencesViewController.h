#pragma once

#include "platform/URL.h"
#include "platform/UserDefaults.h"

#include <QLatin1StringView>
#include <QString>

// The readers of the user's settings. The Preferences window that writes them is built in the
// interface layer on these same static members; here the type holds only what the services read.
//
// Nothing registers defaults: each reader applies its own, and a value of the wrong type reads
// as that default. Every call reads the store afresh, from any thread.
class PreferencesViewController {
public:
    static constexpr QLatin1StringView defaultDestinationKey{"defaultDestination"};
    static constexpr QLatin1StringView autoIngestDestinationKey{"autoIngestDestination"};
    static constexpr QLatin1StringView autoIngestEnabledKey{"autoIngestEnabled"};
    static constexpr QLatin1StringView verifyTransfersKey{"verifyTransfers"};
    static constexpr QLatin1StringView autoIngestIncludeDeviceFolderKey{"autoIngestIncludeDeviceFolder"};
    static constexpr QLatin1StringView autoIngestIncludeDateFolderKey{"autoIngestIncludeDateFolder"};
    static constexpr QLatin1StringView preserveTimestampsKey{"preserveTimestamps"};
    static constexpr QLatin1StringView enableThumbnailsKey{"enableThumbnails"};
    static constexpr QLatin1StringView showHiddenFilesKey{"showHiddenFiles"};
    static constexpr QLatin1StringView chunkSizeKey{"chunkSize"};
    static constexpr QLatin1StringView hasCompletedFirstRunKey{"hasCompletedFirstRun"};

    // Bounds of the chunk in which files on this computer are read for copies and hashing.
    static constexpr qint64 minimumChunkSize = 8 * 1024 * 1024;
    static constexpr qint64 maximumChunkSize = 128 * 1024 * 1024;

    // The shared handle every reader and writer goes through.
    static UserDefaults& defaults();

    // The archived folder URL; the user's Downloads folder when unset or unreadable.
    static URL defaultDestination();
    // The archived folder URL; defaultDestination() when unset or unreadable.
    static URL autoIngestDestination();

    static bool autoIngestEnabled();             // false when unset
    static bool verifyTransfers();               // false when unset
    static bool autoIngestIncludeDeviceFolder(); // true when unset
    static bool autoIngestIncludeDateFolder();   // true when unset
    static bool preserveTimestamps();            // true when unset
    static bool enableThumbnails();              // true when unset

    // These two are read with the store's lenient boolean reading ("YES", 2 and the like count
    // as true), as their users always have; false when unset.
    static bool showHiddenFiles();
    static bool hasCompletedFirstRun();

    // The stored "chunkSize" raised to 8 MiB and capped at 128 MiB: the window offers 1 to
    // 128 MiB, and a hand-edited huge value must not make a copy allocate gigabytes.
    static qint64 macChunkSize();

    PreferencesViewController() = delete;

private:
    static bool strictBool(const QString& key, bool defaultValue);
    static std::optional<URL> archivedURL(const QString& key);
};
