#pragma once

#include "device/AFCClientHandle.h"
#include "device/AFCCopyOptions.h"
#include "device/AFCProgress.h"

#include <QString>

#include <cstdint>
#include <stop_token>

class LeftoverJournal;
class LocalChunkWriter;

// Copies one device file to a local file, in chunks, on the calling (executor) thread. The local
// write of a chunk overlaps the device read of the next one (LocalChunkWriter); the device sees
// one request at a time. The copy is written beside its target and takes its place only when
// complete (LocalReplacement): a copy that fails or is cancelled leaves the target as it was.
class AFCDownload {
public:
    // Called with the bytes written so far: once per MiB at most, and once at the end. Called on
    // the writer's thread, or the caller's for the last report.
    using Progress = AFCDownloadProgress;

    // Returns the bytes copied. Throws AFCError (fileOpenFailed, fileReadFailed; writeFailed for
    // the local file, with its errno and the system's words for it), SizeChangedError,
    // NameTakenError (see AFCCopyOptions) or async::CancelledError. Given a journal, the partial
    // file beside the target is written down there while it exists.
    static quint64 run(afc_client_t afc, const QString& devicePath, const QString& localPath,
                       LocalChunkWriter& writer, uint32_t chunkBytes, const Progress& progress,
                       std::stop_token token, const AFCCopyOptions& options = {},
                       LeftoverJournal* journal = nullptr);

    AFCDownload() = delete;
};
