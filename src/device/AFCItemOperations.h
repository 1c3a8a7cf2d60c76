#pragma once

#include "device/AFCClientHandle.h"
#include "device/AFCPutBack.h"

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
    // A folder of the program's own with everything in it: in one request where the device does
    // that, else (a device that does not know the request or refuses it) as removeRecursively,
    // without a way to stop. Throws AFCError deleteFailed, or the error of the removal item by item.
    static void removeTree(afc_client_t afc, const QString& path);
    // Makes link a second name of the file at target. Like a link on this computer, and unlike
    // the device's rename, it never takes a name already in use (AFC_E_OBJECT_EXISTS), so a copy
    // can put a finished file in place without looking first. The device's answer; never throws.
    static afc_error_t linkItem(afc_client_t afc, const QString& target, const QString& link);
    // Gives the item at from the name to unless something bears that name. Where the device links (a file),
    // by a second name and the removal of the first: the link refuses a taken name by itself, so a file
    // another program writes meanwhile is never replaced. Elsewhere (a folder, a device that will not link)
    // by a look and a rename, which a file written between the two would not survive. How an item set
    // aside comes back, and how a move renames. Throws AFCError (renameFailed, deleteFailed).
    static AFCPutBack putBack(afc_client_t afc, const QString& from, const QString& to);
    // What the device answers when asked about path: AFC_E_SUCCESS when something bears that
    // name, AFC_E_OBJECT_NOT_FOUND when nothing does. The device has no rename that refuses a
    // taken name, so this is how a copy that must not replace finds out. Never throws.
    static afc_error_t lookUp(afc_client_t afc, const QString& path);

    AFCItemOperations() = delete;
};
