#include "device/AFCDirectoryReader.h"

#include "device/AFCError.h"
#include "device/AFCPath.h"
#include "platform/Logger.h"
#include "platform/async/Cancellation.h"

#include <libimobiledevice/afc.h>

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

    char*** out() { return &m_list; }
    char** get() const { return m_list; }

private:
    char** m_list = nullptr;
};

} // namespace

AFCFileInfo AFCDirectoryReader::readFileInfo(afc_client_t afc, const QString& path) {
    StringList list;
    const afc_error_t result = afc_get_file_info(afc, path.toUtf8().constData(), list.out());
    if (result != AFC_E_SUCCESS || !list.get())
        throw AFCError::fromLibrary(AFCError::Case::fileInfoFailed, "afc_get_file_info", result);
    AFCFileInfo info;
    for (char** pair = list.get(); pair[0] && pair[1]; pair += 2) {
        if (pair[0][0] == '\0' || pair[1][0] == '\0')
            break;
        info.insert(QString::fromUtf8(pair[0]), QString::fromUtf8(pair[1]));
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

AFCDirectoryListing AFCDirectoryReader::listDirectory(afc_client_t afc, const QString& path,
                                                      std::stop_token token) {
    StringList names;
    const afc_error_t result = afc_read_directory(afc, path.toUtf8().constData(), names.out());
    if (result != AFC_E_SUCCESS || !names.get()) {
        throw AFCError::fromLibrary(AFCError::Case::directoryListFailed, "afc_read_directory", result,
                                    QStringLiteral(" at ") + path);
    }
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
            continue;
        }
        try {
            AFCFileInfo info = readFileInfo(afc, *childPath);
            info.insert(QStringLiteral("Name"), name);
            info.insert(QStringLiteral("Path"), *childPath);
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
        }
    }
    return listing;
}
