#pragma once

#include "platform/Date.h"
#include "platform/FileIdentity.h"
#include "platform/URL.h"
#include "platform/async/Task.h"

#include <QString>

#include <memory>
#include <optional>

class TransferPlacement;

// Whether a moved file is still the one its copy read, checked right before the move deletes it:
// a file saved again after its copy (an editor renames a new file over it, or rewrites it) holds
// work that the copy does not, and must stay.
class MovedSourceCheck {
public:
    // What a copy read of its source, taken when it opened it: on this computer the file's
    // identity, on a device its size and modification date (a device tells no more).
    struct Copied {
        std::optional<FileIdentity> local;
        std::optional<quint64> size;
        std::optional<Date> modified;
    };

    // Returns when the file at url is what copied describes. Throws TransferError, naming the
    // file as shownName and what changed, when it is not, and whatever looking at it throws
    // (a file gone, a device that does not answer). One look at the disk, or one request to the
    // device through the placement's bridge.
    static async::Task<void> ensureUnchanged(std::shared_ptr<TransferPlacement> placement, URL url,
                                             Copied copied, QString shownName);

    // What differs, nothing when nothing does. The inode number and the change time count only
    // where the file system keeps them (numbersLast, see FileIdentity::numbersLastOn).
    static std::optional<QString> difference(const FileIdentity& copied, const FileIdentity& now,
                                             bool numbersLast);
    static std::optional<QString> difference(const Copied& copied, quint64 size, const Date& modified);

    MovedSourceCheck() = delete;
};
