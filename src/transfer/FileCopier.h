#pragma once

#include "device/AFCComponents.h"
#include "device/AFCCopyOptions.h"
#include "platform/Date.h"
#include "platform/URL.h"
#include "platform/async/Task.h"
#include "transfer/MovedSourceCheck.h"

#include <memory>
#include <optional>

struct TransferRun;

// Copies one file in whichever of the four directions its two URLs give ("afc" is a device, any
// other scheme this computer), feeding the transfer's progress and ending with the file's record
// (modification date, report line).
//
// Every copy writes beside its target and takes the target's name only when whole and of the size
// its source had when the copy began, so a copy that fails or is cancelled leaves no partial file
// behind. A copy never takes the place of anything: an item to be replaced was set aside first,
// and a name found taken when the copy is whole fails it with NameTakenError (the caller asks
// about the clash) and leaves what is there alone.
class FileCopier {
public:
    // The source, with what a listing already told about it, so that nothing is asked twice.
    struct Source {
        URL url;
        std::optional<quint64> size;
        std::optional<Date> modified;
        // The size was measured for this copy, not taken from an earlier listing.
        bool measured = false;
    };

    static async::Task<void> copyFile(std::shared_ptr<TransferRun> run, Source source, URL destination);

    // A copy between this computer and a device whose device work is already queued on the
    // bridge. A folder starts its next files while it finishes this one, so that the device never
    // waits for the main thread between two files.
    struct Started {
        Source source;
        URL destination;
        bool download = false;
        Date startedAt;
        async::Task<quint64> work;
        // An upload's source as it was opened (AFCCopyOptions::openedSource).
        std::shared_ptr<FileIdentity> openedSource;
    };
    // Queues the copy of a file whose size (and for a download, its date) is known, on a session
    // this run has opened; base is the transfer's byte count when this file will begin. With
    // insideNewFolder the destination's folder is one this run made and wrote down (see
    // AFCCopyOptions); an upload there may also be given that folder's staging folder.
    static Started start(std::shared_ptr<TransferRun> run, Source source, URL destination, quint64 base,
                         bool insideNewFolder = false, std::shared_ptr<AFCStaging> staging = {});
    // Awaits the copy, checks its size, carries the date over and records the file.
    static async::Task<void> finish(std::shared_ptr<TransferRun> run, Started started);

    FileCopier() = delete;

private:
    // A download or an upload: exactly one side is on a device.
    static async::Task<void> withDevice(std::shared_ptr<TransferRun> run, Source source, URL destination);
    static async::Task<void> deviceToDevice(std::shared_ptr<TransferRun> run, Source source, URL destination);
    // The two phases of a device-to-device copy, through a file on this computer: the bytes sent,
    // and the source's facts as the download took them.
    struct Relayed {
        quint64 sent = 0;
        Source source;
    };
    static async::Task<Relayed> throughTemporary(std::shared_ptr<TransferRun> run, Source source,
                                                 URL temporary, AFCComponents from, AFCComponents to,
                                                 quint64 base);
    static async::Task<void> local(std::shared_ptr<TransferRun> run, Source source, URL destination);
    // Size and modification date of a device file, when the listing did not give them.
    static async::Task<Source> deviceFacts(std::shared_ptr<TransferRun> run, Source source);
    static async::Task<quint64> localSize(std::shared_ptr<TransferRun> run, URL url);
    static async::Task<void> keepModificationDate(std::shared_ptr<TransferRun> run, URL destination,
                                                  Date date);
    // The file's report line, once it is whole under its name, with what the copy read of its
    // source.
    static async::Task<void> record(std::shared_ptr<TransferRun> run, URL source, URL destination,
                                    Date startedAt, quint64 bytes, MovedSourceCheck::Copied copied);
    // What a copy from a device read: the size and date it was decided on, which the copy held
    // its source to.
    static MovedSourceCheck::Copied readFromDevice(const Source& source);
};
