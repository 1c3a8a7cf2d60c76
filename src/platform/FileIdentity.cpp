#include "platform/FileIdentity.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace {

// Not in every kernel's headers.
constexpr unsigned long zfsMagic = 0x2fc12fc1;
constexpr unsigned long bcachefsMagic = 0xca451a4e;
constexpr unsigned long jfsMagic = 0x3153464a;

// File systems that keep inode numbers on disk (or, in memory, for the file's whole life) and a
// change time that only the kernel sets. NFS numbers its files by the server's inodes. An overlay
// shows the numbers and times of the file systems beneath it. Anything not named here is not
// trusted with a number: a new or unusual file system loses only the stricter check.
bool keepsNumbers(unsigned long type) {
    switch (type) {
    case EXT4_SUPER_MAGIC: // ext2 and ext3 too
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case RAMFS_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
    case NILFS_SUPER_MAGIC:
    case REISERFS_SUPER_MAGIC:
    case NFS_SUPER_MAGIC:
    case zfsMagic:
    case bcachefsMagic:
    case jfsMagic:
        return true;
    default:
        return false;
    }
}

} // namespace

FileIdentity FileIdentity::of(const struct stat& facts) {
    FileIdentity identity;
    identity.device = quint64(facts.st_dev);
    identity.inode = quint64(facts.st_ino);
    identity.size = quint64(facts.st_size);
    identity.modifiedSeconds = qint64(facts.st_mtim.tv_sec);
    identity.modifiedNanoseconds = qint64(facts.st_mtim.tv_nsec);
    identity.changedSeconds = qint64(facts.st_ctim.tv_sec);
    identity.changedNanoseconds = qint64(facts.st_ctim.tv_nsec);
    return identity;
}

bool FileIdentity::numbersLastOn(const char* path) {
    struct statfs facts {};
    if (::statfs(path, &facts) != 0)
        return true;
    return keepsNumbers(static_cast<unsigned long>(facts.f_type));
}
