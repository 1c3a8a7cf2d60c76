#include "device/AFCDirectoryReader.h"

#include "device/AFCError.h"
#include "device/AFCPath.h"
#include "platform/Logger.h"
#include "platform/async/Cancellation.h"

#include <libimobiledevice/afc.h>

#include <cstring>
#include <iterator>
#include <utility>

namespace {

// The library's NULL-terminated string lists, freed however the caller leaves.
class StringList {
public:
    StringList() = default;
    ~StringList() {
        if (m_list)
            afc_dictionary_free(m_list);
    }
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;
    StringList(StringList&& other) noexcept : m_list(std::exchange(other.m_list, nullptr)) {}
    StringList& operator=(StringList&&) = delete;

    char*** out() { return &m_list; }
    char** get() const { return m_list; }

private:
    char** m_list = nullptr;
};

// The names of the facts a device reports, shared rather than made anew for every entry: a
// listing of ten thousand files would otherwise allocate the same few strings eighty thousand
// times, a good part of what a listing costs beyond the device's own time.
QString factName(const char* name) {
    static const QString known[] = {
        QStringLiteral("st_size"),    QStringLiteral("st_blocks"), QStringLiteral("st_nlink"),
        QStringLiteral("st_ifmt"),    QStringLiteral("st_mtime"),  QStringLiteral("st_birthtime"),
        QStringLiteral("LinkTarget"),
    };
    static const char* const latin1[] = {"st_size",  "st_blocks",    "st_nlink",  "st_ifmt",
                                         "st_mtime", "st_birthtime", "LinkTarget"};
    for (size_t i = 0; i < std::size(latin1); ++i) {
        if (std::strcmp(name, latin1[i]) == 0)
            return known[i];
    }
    return QString::fromUtf8(name);
}

} // namespace

AFCFileInfo AFCDirectoryReader::readFileInfo(afc_client_t afc, const QString& path) {
    StringList list;
    const afc_error_t result = afc_get_file_info(afc, path.toUtf8().constData(), list.out());
    if (result != AFC_E_SUCCESS || !list.get())
        throw AFCError::fromLibrary(AFCError::Case::fileInfoFailed, "afc_get_file_info", result);
    return fileInfoFromPairs(list.get());
}

AFCFileInfo AFCDirectoryReader::fileInfoFromPairs(const char* const* pairs) {
    AFCFileInfo info;
    for (const char* const* pair = pairs; pair[0] && pair[1]; pair += 2) {
        if (pair[0][0] == '\0' || pair[1][0] == '\0')
            break;
        info.insert(factName(pair[0]), QString::fromUtf8(pair[1]));
    }
    return info;
}

AFCFileInfo AFCDirectoryReader::fileInfo(afc_client_t afc, const QString& path) {
    AFCFileInfo info;
    try {
        info = readFileInfo(afc, path);
    } catch (const AFCError& error) {
        throw AFCError::withLibraryResult(AFCError::Case::fileInfoFailed,
                                          QStringLiteral("afc_get_file_info failed for ") + path,
                                          error.libraryResult().value_or(AFC_E_UNKNOWN_ERROR));
    }
    info.insert(QStringLiteral("Name"), AFCPath::lastComponent(path));
    info.insert(QStringLiteral("Path"), path);
    return info;
}

namespace {

StringList readNames(afc_client_t afc, const QString& path) {
    StringList names;
    const afc_error_t result = afc_read_directory(afc, path.toUtf8().constData(), names.out());
    if (result != AFC_E_SUCCESS || !names.get()) {
        throw AFCError::fromLibrary(AFCError::Case::directoryListFailed, "afc_read_directory", result,
                                    QStringLiteral(" at ") + path);
    }
    return names;
}

} // namespace

QStringList AFCDirectoryReader::listNames(afc_client_t afc, const QString& path) {
    const StringList names = readNames(afc, path);
    QStringList safe;
    for (char** entry = names.get(); *entry; ++entry) {
        const QString name = QString::fromUtf8(*entry);
        if (name != QLatin1String(".") && name != QLatin1String("..") && AFCPath::child(path, name))
            safe.append(name);
    }
    return safe;
}

AFCDirectoryListing AFCDirectoryReader::listDirectory(afc_client_t afc, const QString& path,
                                                      std::stop_token token) {
    const StringList names = readNames(afc, path);
    AFCDirectoryListing listing;
    for (char** entry = names.get(); *entry; ++entry) {
        async::throwIfCancelled(token);
        const QString name = QString::fromUtf8(*entry);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        const std::optional<QString> childPath = AFCPath::child(path, name);
        if (!childPath) {
            Logger::bridge().error("Skipped unsafe entry name \"%s\" in %s", name, path);
            listing.skippedNames.append(name);
            listing.skipReasons.insert(name, QStringLiteral("its name is not safe to use here"));
            continue;
        }
        try {
            static const QString nameKey = QStringLiteral("Name");
            static const QString pathKey = QStringLiteral("Path");
            AFCFileInfo info = readFileInfo(afc, *childPath);
            info.insert(nameKey, name);
            info.insert(pathKey, *childPath);
            listing.entries.append(std::move(info));
        } catch (const AFCError& error) {
            if (error.isConnectionLost()) {
                throw AFCError::fromLibrary(AFCError::Case::directoryListFailed, "afc_get_file_info",
                                            *error.libraryResult(), QStringLiteral(" at ") + *childPath);
            }
            // Usually a child that vanished between the two requests; the rest of the folder
            // still lists, but the gap must not go unnoticed.
            Logger::bridge().error("Skipped %s: %s", *childPath, error.description());
            listing.skippedNames.append(name);
            listing.skipReasons.insert(name, QStringLiteral("the device would not describe it (") +
                                                 error.description() + QLatin1Char(')'));
        }
    }
    return listing;
}
