#pragma once

#include "platform/Date.h"
#include "platform/FileIdentity.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <stop_token>
#include <sys/types.h>

// The transfer engine's blocking work on this computer's files: inspecting, listing, making and
// removing folders, and copying one file. Run on an executor, never on the main thread. Every
// failure is a FileError that keeps errno, except where noted.
class LeftoverJournal;

class LocalTransferFiles {
public:
    // What is at a path, the entry itself (a link is not followed).
    struct Facts {
        bool isDirectory = false;
        bool isRegular = false;
        bool isLink = false;
        quint64 size = 0;
        Date modified;
        dev_t device = 0;
        ino_t inode = 0;
    };

    struct Child {
        QString name;
        bool isDirectory = false;
        quint64 size = 0;
        Date modified;
    };

    struct Unreadable {
        QString name;
        QString reason;
    };

    // A folder's children that can be copied, and those that cannot.
    struct Listing {
        QList<Child> children;
        QList<Unreadable> unreadable;
    };

    struct CopyResult {
        quint64 bytes = 0;
        Date sourceModified;
        // The source as it was opened, before a byte was read.
        FileIdentity source;
    };

    // Nothing when no entry has that name (ENOENT, or a parent that is not a folder); any other
    // failure is an error: a folder we may not look into does not tell us that a name is free.
    static std::optional<Facts> inspect(const QString& path);
    // Whether the two entries are one and the same file (device and inode), whatever their paths.
    static bool isSameEntry(const QString& first, const QString& second);
    // Whether the folder's listing holds the last name of path spelled as it is: a file system
    // that folds case finds "A.jpg" where only "a.jpg" is listed. False too when the folder
    // cannot be listed.
    static bool isListedAsSpelled(const QString& path);
    // Whether two names show one file's facts (type, size, links, and change and modification
    // times to the nanosecond). Where a file system gives each spelling of a name an inode number
    // of its own (exFAT through FUSE), this, with a name not listed as spelled, is what tells
    // that the name reached the other file.
    static bool showSameFacts(const QString& first, const QString& second);
    // The path with links and "." and ".." resolved; for a path that does not exist yet, its
    // nearest existing ancestor is resolved and the rest appended.
    static QString resolvedPath(const QString& path);

    // In the order the file system gives them. Hidden names are left out unless showHidden, and
    // copies in progress and items set aside always. A name whose bytes are not text (it would
    // come back from its decoded form as other bytes, naming another file or none) is listed as
    // unreadable: it is never copied, and so never deleted by a move, under a name not its own. A link to a
    // file is listed as the file it names; a link to a folder is not followed (a tree could hold itself), and
    // it, a dangling link, a special file or an entry whose facts cannot be read are listed as unreadable.
    static Listing list(const QString& folder, bool showHidden);
    // Whether the last name of path may stand for another entry than the one the user chose: a
    // name whose bytes are not text is shown with the replacement character, and so is a real
    // name written with it. True when the folder holds such an entry that reads as this name.
    static bool nameIsAmbiguous(const QString& path);

    // Makes the folder and any missing parent. True when it made the folder itself, false when a
    // folder was already there.
    static bool makeFolder(const QString& path);
    // A file, or a folder with everything in it; links inside are removed, never followed.
    static void removeItem(const QString& path);
    static void setModificationDate(const QString& path, Date date);
    // Sends the item's data to the disk, and with a folder everything in it (never through a
    // link), then the folder holding it, so that the name it has survives a power cut. Throws
    // FileError when any of it fails.
    static void flushToDisk(const QString& path);
    // Sends to the disk everything written on the file systems that hold the given folders, each
    // file system once however many folders it holds (syncfs): a move of a thousand photos pays
    // one flush, not a thousand. Throws FileError when a folder cannot be opened or a flush fails.
    static void flushFileSystems(const QStringList& folders);

    // Copies a regular file beside the target and renames it over the target only when whole, so
    // a failed or cancelled copy leaves the target as it was and no partial file. Reads in chunks
    // of chunkBytes() (asked before every chunk); progress is called after each chunk with the
    // bytes so far. With a date, the copy gets it as its modification date before it takes the
    // target's name. No more than the size the source had when it was opened is read; a source
    // whose size changed meanwhile fails (SizeChangedError). Without replaceExisting the copy
    // never takes the place of anything: a taken name fails it with NameTakenError. A cancelled
    // copy throws async::CancelledError. The partial file's name carries partialMark (see
    // AFCPath::partialCopyName); given a journal, the partial file is written down there while it
    // exists (see LocalReplacement).
    static CopyResult copyFile(const QString& source, const QString& target,
                               const std::function<qint64()>& chunkBytes,
                               const std::function<void(quint64)>& progress, bool keepModificationDate,
                               std::stop_token token, bool replaceExisting = true,
                               const QString& partialMark = QString(), LeftoverJournal* journal = nullptr);

    static Date dateOf(const struct timespec& time);

    LocalTransferFiles() = delete;
};
