#pragma once

#include <QtGlobal>

struct stat;

// Which file of this computer a name stood for, and in what state: the device and inode tell a
// file from another that took its name (an editor saves by renaming a new file over the old one),
// the size and the modification time, to the nanosecond, a rewrite in place.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    quint64 size = 0;
    qint64 modifiedSeconds = 0;
    qint64 modifiedNanoseconds = 0;

    static FileIdentity of(const struct stat& facts);

    bool isSameFile(const FileIdentity& other) const {
        return device == other.device && inode == other.inode;
    }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
