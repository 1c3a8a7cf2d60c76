#pragma once

#include "device/AFCClientHandle.h"
#include "device/AFCCopyOptions.h"
#include "device/AFCProgress.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <stop_token>

class AFCLeftovers;
class LocalChunkReader;

// Copies one local file to the device, in chunks, on the calling (executor) thread. The local read
// of the next chunk overlaps the device write of this one (LocalChunkReader). The copy is written
// under a hidden name beside its target and renamed over it only once complete and closed without
// error: a copy that fails or is cancelled removes only that file (when the device is still there
// to ask), and the target stays as it was. With a staging folder (AFCCopyOptions) the copy is
// written there and linked under the target's name instead, and stays there as a second name of
// the file until the staging folder goes.
class AFCUpload {
public:
    // Called with the bytes stored so far and the file's size: once per MiB at most, and once at
    // the end.
    using Progress = AFCUploadProgress;
    // Gives the client of a new session in place of one whose connection fell out of step with the
    // device (the library gave up waiting for an answer the device still owed, as when the device
    // holds a write longer than the library waits); nullptr when that connection is not to be
    // gone on from: the device went away, or it was cut for a cancel. May throw what opening a
    // session throws.
    using Reconnect = std::function<afc_client_t()>;

    // Returns the bytes sent: exactly the size the local file had when it was opened (or the
    // expected size of the options), read no further. Throws AFCError (writeFailed, with the errno
    // for a local failure; fileOpenFailed), SizeChangedError, NameTakenError (see AFCCopyOptions)
    // or async::CancelledError. The partial file is written down in leftovers before it is made,
    // and struck out once it is gone; one that could not be removed because the device went away
    // stays there, for removal when the device's session next opens.
    // A write whose connection fell out of step goes on over the session reconnect gives, from the
    // last byte the device confirmed; once more only after the device has confirmed more since.
    static quint64 run(afc_client_t afc, const QString& devicePath, const QString& localPath,
                       LocalChunkReader& reader, uint32_t chunkBytes, const Progress& progress,
                       const AFCLeftovers& leftovers, std::stop_token token,
                       const AFCCopyOptions& options = {}, const Reconnect& reconnect = {});

    AFCUpload() = delete;
};
