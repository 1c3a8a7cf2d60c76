#pragma once

#include <libimobiledevice/afc.h>

#include <QString>

#include <cstdint>
#include <functional>
#include <stop_token>

// Copies one local file to the device, in chunks, on the calling (executor) thread. The local read
// of the next chunk overlaps the device write of this one (LocalChunkReader). A copy that
// fails or is cancelled removes the device file it wrote (when the device is still there to
// ask), so a short file is never left looking like a finished one.
class AFCUpload {
public:
    // Called with the bytes sent so far and the file's size (-1 when it cannot be read): once
    // per MiB at most, and once at the end.
    using Progress = std::function<void(qint64 sent, qint64 size)>;

    // Returns the bytes sent. Throws AFCError (writeFailed, with the errno for a local failure;
    // fileOpenFailed) or async::CancelledError.
    static quint64 run(afc_client_t afc, const QString& devicePath, const QString& localPath,
                       uint32_t chunkBytes, const Progress& progress, std::stop_token token);

    AFCUpload() = delete;
};
