#pragma once

#include "platform/Date.h"
#include "platform/FileIdentity.h"
#include "platform/URL.h"
#include "platform/async/Task.h"

#include <QHash>
#include <QString>

#include <memory>
#include <optional>

class TransferPlacement;

// The removal of a moved file, only while it is still the one its copy read: a file saved again
// after its copy (an editor renames a new file over it, or rewrites it) holds work that the copy
// does not, and must stay.
class MovedSourceCheck {
public:
    // What a copy read of its source, taken when it opened it: on this computer the file's
    // identity, on a device its size and modification date (a device tells no more).
    struct Copied {
        std::optional<FileIdentity> local;
        std::optional<quint64> size;
        std::optional<Date> modified;
    };

    // Whether the file systems a move's sources lie on keep their files' numbers, by device number:
    // each is asked once for the whole move. Touched only by jobs on the placement's executor.
    using NumbersKept = std::shared_ptr<QHash<quint64, bool>>;

    // Removes the file at url when it is still what copied describes. Throws TransferError, naming
    // the file as shownName and what changed, when it is not (the file stays), and whatever looking
    // at it or removing it throws (a file gone, a device that does not answer). The look and the
    // removal are one job, on the placement's executor or through its bridge: nothing of the
    // transfer's comes between them, and a device file costs one request more than its removal.
    static async::Task<void> removeUnchanged(std::shared_ptr<TransferPlacement> placement, URL url,
                                             Copied copied, QString shownName, NumbersKept numbersKept);

    // What differs, nothing when nothing does. The inode number and the change time count only
    // where the file system keeps them (numbersLast, see FileIdentity::numbersLastOn).
    static std::optional<QString> difference(const FileIdentity& copied, const FileIdentity& now,
                                             bool numbersLast);
    static std::optional<QString> difference(const Copied& copied, quint64 size, const Date& modified);

    MovedSourceCheck() = delete;
};
