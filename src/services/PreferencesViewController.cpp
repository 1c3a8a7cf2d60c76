#include "services/PreferencesViewController.h"

#include "platform/ArchivedURL.h"

#include <QStandardPaths>

#include <algorithm>

UserDefaults& PreferencesViewController::defaults() {
    // One-time, thread-safe: a function-local static.
    static UserDefaults& shared = UserDefaults::standard();
    return shared;
}

bool PreferencesViewController::strictBool(const QString& key, bool defaultValue) {
    const std::optional<QVariant> stored = defaults().object(key);
    if (!stored)
        return defaultValue;
    switch (stored->typeId()) {
    case QMetaType::Bool:
        return stored->toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double: {
        // A number counts only when it is exactly 0 or 1; "YES", 2 and the like are not booleans.
        const double number = stored->toDouble();
        if (number == 0)
            return false;
        if (number == 1)
            return true;
        return defaultValue;
    }
    default:
        return defaultValue;
    }
}

std::optional<URL> PreferencesViewController::archivedURL(const QString& key) {
    const std::optional<QByteArray> data = defaults().dataForKey(key);
    if (!data)
        return std::nullopt;
    return unarchiveURL(*data);
}

URL PreferencesViewController::defaultDestination() {
    if (const auto stored = archivedURL(defaultDestinationKey))
        return *stored;
    const QStringList downloads = QStandardPaths::standardLocations(QStandardPaths::DownloadLocation);
    // A normal account always has one; the home folder is a sane place should it not.
    const QString folder = downloads.isEmpty()
                               ? QStandardPaths::writableLocation(QStandardPaths::HomeLocation)
                               : downloads.first();
    return URL::fileURL(folder, true);
}

URL PreferencesViewController::autoIngestDestination() {
    if (const auto stored = archivedURL(autoIngestDestinationKey))
        return *stored;
    return defaultDestination();
}

bool PreferencesViewController::autoIngestEnabled() {
    return strictBool(autoIngestEnabledKey, false);
}

bool PreferencesViewController::verifyTransfers() {
    return strictBool(verifyTransfersKey, false);
}

bool PreferencesViewController::autoIngestIncludeDeviceFolder() {
    return strictBool(autoIngestIncludeDeviceFolderKey, true);
}

bool PreferencesViewController::autoIngestIncludeDateFolder() {
    return strictBool(autoIngestIncludeDateFolderKey, true);
}

bool PreferencesViewController::preserveTimestamps() {
    return strictBool(preserveTimestampsKey, true);
}

bool PreferencesViewController::enableThumbnails() {
    return strictBool(enableThumbnailsKey, true);
}

bool PreferencesViewController::showHiddenFiles() {
    return defaults().boolForKey(showHiddenFilesKey);
}

bool PreferencesViewController::hasCompletedFirstRun() {
    return defaults().boolForKey(hasCompletedFirstRunKey);
}

qint64 PreferencesViewController::macChunkSize() {
    return std::clamp(defaults().integerForKey(chunkSizeKey), minimumChunkSize, maximumChunkSize);
}
