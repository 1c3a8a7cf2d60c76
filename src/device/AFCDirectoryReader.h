#pragma once

#include "device/AFCClientHandle.h"
#include "device/AFCDirectoryListing.h"
#include "device/AFCFileInfo.h"

#include <QString>
#include <QStringList>

#include <stop_token>

// Listings and the facts of single paths over one AFC client. Plain blocking calls: the bridge
// runs them inside its executor's jobs.
class AFCDirectoryReader {
public:
    // The device's own pairs for path. Throws AFCError fileInfoFailed.
    static AFCFileInfo readFileInfo(afc_client_t afc, const QString& path);
    // The facts in the library's list of alternating keys and values, which ends at a NULL; the
    // pairs stop at a missing or empty key or value, as the device's own reply does.
    static AFCFileInfo fileInfoFromPairs(const char* const* pairs);
    // readFileInfo plus "Name" and "Path". Throws AFCError fileInfoFailed.
    static AFCFileInfo fileInfo(afc_client_t afc, const QString& path);
    // One dictionary per child, in the device's order. A child with an unsafe name, or whose facts
    // the device refuses, is left out and logged; but a lost connection fails the whole listing
    // (directoryListFailed), since what was gathered until then is no answer for the folder.
    // Throws async::CancelledError when token stops between children.
    static AFCDirectoryListing listDirectory(afc_client_t afc, const QString& path,
                                             std::stop_token token = {});
    // Only the children's names, in one request: no facts asked of each. Unsafe names are left
    // out. Throws AFCError directoryListFailed.
    static QStringList listNames(afc_client_t afc, const QString& path);

    AFCDirectoryReader() = delete;
};
