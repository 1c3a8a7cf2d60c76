#pragma once

#include "device/AFCClientHandle.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <stop_token>

// Reads the start of a device file into memory (thumbnails, previews). Blocking; executor only.
class AFCFileReader {
public:
    // At most maxBytes from the start of the file; the whole file when it is smaller. Throws
    // AFCError fileOpenFailed or fileReadFailed, or async::CancelledError between chunks.
    static QByteArray readFile(afc_client_t afc, const QString& path, uint32_t maxBytes, uint32_t chunkBytes,
                               std::stop_token token = {});

    AFCFileReader() = delete;
};
