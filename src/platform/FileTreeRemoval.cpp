#include "platform/FileTreeRemoval.h"

#include "platform/FileHandle.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

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

} // namespace

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
    if (::fstat(folder.get(), &status) != 0 || status.st_dev != device)
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
