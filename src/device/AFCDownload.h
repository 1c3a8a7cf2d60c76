#pragma once

#include <libimobiledevice/afc.h>

#include <QString>

#include <cstdint>
#include <functional>
#include <stop_token>

// Copies one device file to a local file, in chunks, on the calling (executor) thread. The local
// write of a chunk overlaps the device read of the next one (LocalChunkWriter); the device sees
// one request at a time. A copy that fails or is cancelled removes the local file it wrote, so a
// short file is never left looking like a finished one.
class AFCDownload {
public:
    // Called with the bytes copied so far: once per MiB at most, and once at the end.
    using Progress = std::function<void(quint64)>;

    // Returns the bytes copied. Throws AFCError (fileOpenFailed, fileReadFailed; a local failure
    // carries its errno) or async::CancelledError.
    static quint64 run(afc_client_t afc, const QString& devicePath, const QString& localPath,
                       uint32_t chunkBytes, const Progress& progress, std::stop_token token);

    AFCDownload() = delete;
};
