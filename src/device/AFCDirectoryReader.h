#pragma once

#include "device/AFCFileInfo.h"

#include <libimobiledevice/afc.h>

#include <QList>
#include <QString>

// Listings and the facts of single paths over one AFC client. Plain blocking calls: the bridge
// runs them inside its executor's jobs.
class AFCDirectoryReader {
public:
    // The device's own pairs for path. Throws AFCError fileInfoFailed.
    static AFCFileInfo readFileInfo(afc_client_t afc, const QString& path);
    // readFileInfo plus "Name" and "Path". Throws AFCError fileInfoFailed.
    static AFCFileInfo fileInfo(afc_client_t afc, const QString& path);
    // One dictionary per child, in the device's order. Children with unsafe names and children
    // whose facts cannot be read are left out and logged. Throws AFCError directoryListFailed.
    static QList<AFCFileInfo> listDirectory(afc_client_t afc, const QString& path);

    AFCDirectoryReader() = delete;
};
