#include "platform/FileTreeRemoval.h"

#include "platform/FileHandle.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x2000
#endif

namespace {

// The names in the folder open as fd (which stays open). Read whole before anything is removed:
// a directory stream need not show what was removed or added meanwhile.
std::optional<QList<QByteArray>> entriesOf(int fd) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return std::nullopt;
    DIR* stream = ::fdopendir(copy);
    if (!stream) {
        ::close(copy);
        return std::nullopt;
    }
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(stream)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(stream);
    return names;
}

// The mount the entry open as fd is on; nothing when the system will not tell.
std::optional<int> mountIdOf(int fd) {
    alignas(struct file_handle) unsigned char storage[sizeof(struct file_handle) + MAX_HANDLE_SZ] = {};
    auto* handle = reinterpret_cast<struct file_handle*>(storage);
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mountId = -1;
    if (::name_to_handle_at(fd, "", handle, &mountId, AT_EMPTY_PATH) != 0)
        return std::nullopt;
    return mountId;
}

} // namespace

// A bind mount of a folder of the same file system shows the same device number, so that alone
// does not tell. The kernel marks the root of every mount (since Linux 5.8); on an older one, the
// folder's mount is compared with its parent's.
bool isMountPoint(int parentFd, int fd) {
    struct statx status {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_TYPE, &status) == 0 &&
        (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0)
        return (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    const std::optional<int> own = mountIdOf(fd);
    const std::optional<int> parent = mountIdOf(parentFd);
    return own && parent && *own != *parent;
}

bool removeFileTreeAt(int folderFd, const char* name, dev_t device) {
    // Anything but a folder goes by its name; a link is a link, whatever it points at.
    if (::unlinkat(folderFd, name, 0) == 0 || errno == ENOENT)
        return true;
    if (errno != EISDIR && errno != EPERM)
        return false;
    const FileDescriptor folder(::openat(folderFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0)
        return errno == ENOENT;
    struct stat status {};
    // Something mounted here is not ours, even of the same file system: neither emptied nor
    // made writable.
    if (::fstat(folder.get(), &status) != 0 || status.st_dev != device ||
        isMountPoint(folderFd, folder.get()))
        return false;
    // A folder copied from a device may be read-only; it is ours to empty.
    if ((status.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmod(folder.get(), status.st_mode | S_IRWXU);
    bool whole = true;
    if (const std::optional<QList<QByteArray>> names = entriesOf(folder.get())) {
        for (const QByteArray& entry : *names)
            whole = removeFileTreeAt(folder.get(), entry.constData(), device) && whole;
    } else {
        whole = false;
    }
    if (!whole)
        return false;
    return ::unlinkat(folderFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

bool removeFileTree(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const qsizetype slash = native.lastIndexOf('/');
    const QByteArray parent = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : native.left(slash);
    const QByteArray name = native.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return false;
    const FileDescriptor folder(::open(parent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        return errno == ENOENT;
    struct stat status {};
    if (::fstat(folder.get(), &status) != 0)
        return false;
    return removeFileTreeAt(folder.get(), name.constData(), status.st_dev);
}

int removeEntriesChangedBefore(const QString& folder, const QDateTime& cutoff,
                               const std::function<bool(const QString& name)>& accept) {
    const FileDescriptor opened(
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened.get() < 0)
        return 0;
    struct stat own {};
    const std::optional<QList<QByteArray>> names = entriesOf(opened.get());
    if (!names || ::fstat(opened.get(), &own) != 0)
        return 0;
    const qint64 before = cutoff.toSecsSinceEpoch();
    int removed = 0;
    for (const QByteArray& name : *names) {
        if (accept && !accept(QFile::decodeName(name)))
            continue;
        struct stat status {};
        if (::fstatat(opened.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            status.st_mtim.tv_sec >= before)
            continue;
        if (removeFileTreeAt(opened.get(), name.constData(), own.st_dev))
            ++removed;
    }
    return removed;
}
