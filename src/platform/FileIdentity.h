#pragma once

#include <QtGlobal>

struct stat;

// Which file of this computer a name stood for, and in what state: the device and inode tell a
// file from another that took its name (an editor saves by renaming a new file over the old one),
// the size and the modification time, to the nanosecond, a rewrite in place, and the change time
// one whose modification time was put back (no program can set the change time).
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    quint64 size = 0;
    qint64 modifiedSeconds = 0;
    qint64 modifiedNanoseconds = 0;
    qint64 changedSeconds = 0;
    qint64 changedNanoseconds = 0;

    static FileIdentity of(const struct stat& facts);

    // Whether the file system holding path keeps a file's inode number and change time for as long
    // as the file lives. FAT and exFAT drivers number a file afresh each time they read it back into
    // memory and make its change time up from its modification time, FUSE file systems and SMB
    // shares may do either, and NTFS lets programs set the change time: there an unchanged file may
    // show another number and change time after a while, and only its size and modification time
    // tell. True when the file system cannot be asked: the stricter reading keeps a file that may
    // have changed.
    static bool numbersLastOn(const char* path);

    // Whether the inode number and the change time are the same.
    bool sameNumberAndChange(const FileIdentity& other) const {
        return inode == other.inode && changedSeconds == other.changedSeconds &&
               changedNanoseconds == other.changedNanoseconds;
    }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
