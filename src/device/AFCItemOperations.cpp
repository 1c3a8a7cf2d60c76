#include "device/AFCItemOperations.h"

#include "device/AFCDirectoryReader.h"
#include "device/AFCError.h"
#include "platform/Logger.h"
#include "platform/async/Cancellation.h"

#include <libimobiledevice/afc.h>

namespace {

// The device does not know the operation at all, as an older one answers.
bool meansUnsupported(afc_error_t result) {
    return result == AFC_E_OP_NOT_SUPPORTED || result == AFC_E_UNKNOWN_PACKET_TYPE;
}

} // namespace

void AFCItemOperations::removeItem(afc_client_t afc, const QString& path) {
    const afc_error_t result = afc_remove_path(afc, path.toUtf8().constData());
    if (result != AFC_E_SUCCESS)
        throw AFCError::fromLibrary(AFCError::Case::deleteFailed, "afc_remove_path", result,
                                    QStringLiteral(" for ") + path);
    Logger::bridge().info("AFC removed: %s", path);
}

void AFCItemOperations::renameItem(afc_client_t afc, const QString& from, const QString& to) {
    const afc_error_t result = afc_rename_path(afc, from.toUtf8().constData(), to.toUtf8().constData());
    if (result != AFC_E_SUCCESS) {
        throw AFCError::fromLibrary(AFCError::Case::renameFailed, "afc_rename_path", result,
                                    QStringLiteral(": ") + from + QStringLiteral(" → ") + to);
    }
    Logger::bridge().info("AFC rename: %s → %s", from, to);
}

void AFCItemOperations::makeDirectory(afc_client_t afc, const QString& path) {
    const afc_error_t result = afc_make_directory(afc, path.toUtf8().constData());
    if (result != AFC_E_SUCCESS) {
        throw AFCError::fromLibrary(AFCError::Case::makeDirectoryFailed, "afc_make_directory", result,
                                    QStringLiteral(" for ") + path);
    }
    Logger::bridge().debug("AFC mkdir: %s", path);
}

void AFCItemOperations::removeRecursively(afc_client_t afc, const QString& path, std::stop_token token) {
    // Child paths come from the listing, which refuses names that would lead out of the folder. A
    // child it left out keeps the folder from being emptied, so the final removal fails rather
    // than the whole reporting success.
    for (const AFCFileInfo& child : AFCDirectoryReader::listDirectory(afc, path, token).entries) {
        async::throwIfCancelled(token);
        const QString childPath = child.value(QStringLiteral("Path"));
        if (child.value(QStringLiteral("st_ifmt")) == QLatin1String("S_IFDIR"))
            removeRecursively(afc, childPath, token);
        else
            removeItem(afc, childPath);
    }
    removeItem(afc, path);
}

void AFCItemOperations::removeTree(afc_client_t afc, const QString& path) {
    const afc_error_t result = afc_remove_path_and_contents(afc, path.toUtf8().constData());
    if (result == AFC_E_SUCCESS) {
        Logger::bridge().debug("AFC removed with its contents: %s", path);
        return;
    }
    if (AFCError::meansLostConnection(result))
        throw AFCError::fromLibrary(AFCError::Case::deleteFailed, "afc_remove_path_and_contents", result,
                                    QStringLiteral(" for ") + path);
    // A device that will not do it in one request (it does not know the request, or refuses it
    // for this folder) may still take the items one by one.
    if (!meansUnsupported(result))
        Logger::bridge().info("afc_remove_path_and_contents error %d for %s: removing it item by item",
                              static_cast<int>(result), path);
    removeRecursively(afc, path);
}

AFCPutBack AFCItemOperations::putBack(afc_client_t afc, const QString& from, const QString& to) {
    const afc_error_t linked = linkItem(afc, from, to);
    if (linked == AFC_E_OBJECT_EXISTS)
        return AFCPutBack::taken;
    if (linked == AFC_E_SUCCESS) {
        // The item is safe under its name whatever happens to the hidden one.
        const afc_error_t removed = afc_remove_path(afc, from.toUtf8().constData());
        if (removed == AFC_E_SUCCESS || removed == AFC_E_OBJECT_NOT_FOUND)
            return AFCPutBack::moved;
        if (AFCError::meansLostConnection(removed))
            throw AFCError::fromLibrary(AFCError::Case::deleteFailed, "afc_remove_path", removed,
                                        QStringLiteral(" for ") + from);
        Logger::bridge().error("%s has its name, but its old name %s stays: afc_remove_path error %d", to,
                               from, static_cast<int>(removed));
        return AFCPutBack::linkedBesideOld;
    }
    if (AFCError::meansLostConnection(linked))
        throw AFCError::fromLibrary(AFCError::Case::renameFailed, "afc_make_link", linked,
                                    QStringLiteral(": ") + from + QStringLiteral(" → ") + to);
    const afc_error_t looked = lookUp(afc, to);
    if (looked == AFC_E_SUCCESS)
        return AFCPutBack::taken;
    if (looked != AFC_E_OBJECT_NOT_FOUND)
        throw AFCError::fromLibrary(AFCError::Case::renameFailed, "afc_get_file_info", looked,
                                    QStringLiteral(" for ") + to);
    renameItem(afc, from, to);
    return AFCPutBack::moved;
}

afc_error_t AFCItemOperations::linkItem(afc_client_t afc, const QString& target, const QString& link) {
    return afc_make_link(afc, AFC_HARDLINK, target.toUtf8().constData(), link.toUtf8().constData());
}

afc_error_t AFCItemOperations::lookUp(afc_client_t afc, const QString& path) {
    char** info = nullptr;
    const afc_error_t result = afc_get_file_info(afc, path.toUtf8().constData(), &info);
    if (info)
        afc_dictionary_free(info);
    return result;
}
