#include "device/AFCDirectoryReader.h"

#include "device/AFCError.h"
#include "device/AFCPath.h"
#include "device/Logger.h"

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
        throw AFCError::fileInfoFailed(QStringLiteral("afc_get_file_info error ") + QString::number(result));
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
    } catch (const AFCError&) {
        throw AFCError::fileInfoFailed(QStringLiteral("afc_get_file_info failed for ") + path);
    }
    info.insert(QStringLiteral("Name"), AFCPath::lastComponent(path));
    info.insert(QStringLiteral("Path"), path);
    return info;
}

QList<AFCFileInfo> AFCDirectoryReader::listDirectory(afc_client_t afc, const QString& path) {
    StringList names;
    const afc_error_t result = afc_read_directory(afc, path.toUtf8().constData(), names.out());
    if (result != AFC_E_SUCCESS || !names.get()) {
        throw AFCError::directoryListFailed(QStringLiteral("afc_read_directory error ") +
                                            QString::number(result) + QStringLiteral(" at ") + path);
    }
    QList<AFCFileInfo> children;
    for (char** entry = names.get(); *entry; ++entry) {
        const QString name = QString::fromUtf8(*entry);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        const std::optional<QString> childPath = AFCPath::child(path, name);
        if (!childPath) {
            Logger::bridge().error("Skipped unsafe entry name \"%s\" in %s", name, path);
            continue;
        }
        try {
            AFCFileInfo info = readFileInfo(afc, *childPath);
            info.insert(QStringLiteral("Name"), name);
            info.insert(QStringLiteral("Path"), *childPath);
            children.append(std::move(info));
        } catch (const AFCError& error) {
            // Usually a child that vanished between the two requests; the rest of the folder
            // still lists, but the gap must not go unnoticed.
            Logger::bridge().error("Skipped %s: %s", *childPath, error.description());
        }
    }
    return children;
}
