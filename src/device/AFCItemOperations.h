#pragma once

#include "device/AFCClientHandle.h"

#include <libimobiledevice/afc.h>

#include <QString>

#include <stop_token>

// Removing, renaming and creating items on the device. Blocking; executor only.
class AFCItemOperations {
public:
    // A file, a link or an empty folder. Throws AFCError deleteFailed.
    static void removeItem(afc_client_t afc, const QString& path);
    // Also a move within the same area. Throws AFCError renameFailed.
    static void renameItem(afc_client_t afc, const QString& from, const QString& to);
    // Throws AFCError makeDirectoryFailed.
    static void makeDirectory(afc_client_t afc, const QString& path);
    // The folder and everything below it, children first. Links are removed, never followed;
    // the first failure ends the removal, and what was removed before it stays removed. Stops
    // with async::CancelledError between items when token stops.
    static void removeRecursively(afc_client_t afc, const QString& path, std::stop_token token = {});
    // What the device answers when asked about path: AFC_E_SUCCESS when something bears that
    // name, AFC_E_OBJECT_NOT_FOUND when nothing does. The device has no rename that refuses a
    // taken name, so this is how a copy that must not replace finds out. Never throws.
    static afc_error_t lookUp(afc_client_t afc, const QString& path);

    AFCItemOperations() = delete;
};
