#include "transfer/LocalTransferFiles.h"

#include "device/AFCPath.h"
#include "device/LocalReplacement.h"
#include "models/TransferError.h"
#include "platform/Error.h"
#include "platform/FileHandle.h"
#include "platform/FileTreeRemoval.h"
#include "platform/Logger.h"
#include "platform/async/Cancellation.h"
#include "services/LocalFileOperations.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

QString decoded(const char* path) {
    return QFile::decodeName(path);
}

LocalTransferFiles::Facts factsOf(const struct stat& st) {
    LocalTransferFiles::Facts facts;
    facts.isDirectory = S_ISDIR(st.st_mode);
    facts.isRegular = S_ISREG(st.st_mode);
    facts.isLink = S_ISLNK(st.st_mode);
    facts.size = facts.isRegular ? quint64(st.st_size) : 0;
    facts.modified = LocalTransferFiles::dateOf(st.st_mtim);
    facts.device = st.st_dev;
    facts.inode = st.st_ino;
    return facts;
}

QString reasonOf(int error) {
    char buffer[256];
    return QString::fromLocal8Bit(strerror_r(error, buffer, sizeof buffer));
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Writes all of data, retrying short writes and interruptions; 0 or the errno.
int writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        size -= size_t(written);
    }
    return 0;
}

struct timespec timespecOf(Date date) {
    const double seconds = date.secondsSince1970();
    double whole = std::floor(seconds);
    long nanoseconds = std::lround((seconds - whole) * 1e9);
    if (nanoseconds >= 1000000000L) {
        whole += 1;
        nanoseconds -= 1000000000L;
    }
    struct timespec time {};
    time.tv_sec = time_t(whole);
    time.tv_nsec = nanoseconds;
    return time;
}

// One mkdir of the folder: true when it made it, false when a folder (or a link to one) is already
// there, nothing when a parent is missing. Anything else at the path, or any other failure, throws.
std::optional<bool> makeOneFolder(const QByteArray& target, const QString& path) {
    if (::mkdir(target.constData(), 0755) == 0)
        return true;
    const int error = errno;
    if (error == ENOENT)
        return std::nullopt;
    if (error == EEXIST) {
        struct stat st {};
        // Followed: a link to a folder is a folder to copy into, as the file manager treats it.
        if (::stat(target.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            return false;
    }
    throw FileError(error, QStringLiteral("create the folder"), path);
}

} // namespace

Date LocalTransferFiles::dateOf(const struct timespec& time) {
    return Date::fromSecondsSince1970(double(time.tv_sec) + double(time.tv_nsec) / 1e9);
}

std::optional<LocalTransferFiles::Facts> LocalTransferFiles::inspect(const QString& path) {
    struct stat st {};
    if (::lstat(encoded(path).constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        throw FileError::fromErrno(QStringLiteral("inspect"), path);
    }
    return factsOf(st);
}

bool LocalTransferFiles::isSameEntry(const QString& first, const QString& second) {
    struct stat a {};
    struct stat b {};
    if (::lstat(encoded(first).constData(), &a) != 0 || ::lstat(encoded(second).constData(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

QString LocalTransferFiles::resolvedPath(const QString& path) {
    QString existing = path;
    QString rest;
    for (;;) {
        char* real = ::realpath(encoded(existing).constData(), nullptr);
        if (real) {
            QString result = decoded(real);
            std::free(real);
            if (rest.isEmpty())
                return result;
            return (result.endsWith(QLatin1Char('/')) ? result : result + QLatin1Char('/')) + rest;
        }
        const qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return path;
        const QString last = existing.mid(slash + 1);
        rest = rest.isEmpty() ? last : last + QLatin1Char('/') + rest;
        existing = existing.left(slash);
    }
}

bool LocalTransferFiles::isListedAsSpelled(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QByteArray name = encoded(path.mid(slash + 1));
    const QString folder = slash > 0 ? path.left(slash) : QStringLiteral("/");
    std::unique_ptr<DIR, DirCloser> dir(::opendir(encoded(folder).constData()));
    if (!dir)
        return false;
    try {
        while (const dirent* entry = LocalFileOperations::nextEntry(dir.get(), folder)) {
            if (name == QByteArray(entry->d_name))
                return true;
        }
    } catch (const FileError&) {
    }
    return false;
}

bool LocalTransferFiles::showSameFacts(const QString& first, const QString& second) {
    struct stat a {};
    struct stat b {};
    if (::lstat(encoded(first).constData(), &a) != 0 || ::lstat(encoded(second).constData(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_mode == b.st_mode && a.st_size == b.st_size &&
           a.st_nlink == b.st_nlink && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

bool LocalTransferFiles::nameIsAmbiguous(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    // Only a name holding the replacement character can be read from other bytes.
    if (!name.contains(QChar(QChar::ReplacementCharacter)))
        return false;
    const QString folder = slash > 0 ? path.left(slash) : QStringLiteral("/");
    std::unique_ptr<DIR, DirCloser> dir(::opendir(encoded(folder).constData()));
    if (!dir)
        return false;
    while (const dirent* entry = LocalFileOperations::nextEntry(dir.get(), folder)) {
        if (decoded(entry->d_name) == name && encoded(name) != QByteArray(entry->d_name))
            return true;
    }
    return false;
}

LocalTransferFiles::Listing LocalTransferFiles::list(const QString& folder, bool showHidden) {
    const QByteArray path = encoded(folder);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw FileError::fromErrno(QStringLiteral("list"), folder);
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (!dir) {
        const int error = errno;
        ::close(fd);
        throw FileError(error, QStringLiteral("list"), folder);
    }
    Listing listing;
    while (const dirent* entry = LocalFileOperations::nextEntry(dir.get(), folder)) {
        const char* rawName = entry->d_name;
        const QString name = decoded(rawName);
        if (AFCPath::isLeftoverName(name) || (!showHidden && name.startsWith(QLatin1Char('.'))))
            continue;
        if (encoded(name) != QByteArray(rawName)) {
            listing.unreadable.append({name, QStringLiteral("name is not valid text")});
            continue;
        }
        struct stat st {};
        if (::fstatat(::dirfd(dir.get()), rawName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            listing.unreadable.append({name, reasonOf(errno)});
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            struct stat target {};
            if (::fstatat(::dirfd(dir.get()), rawName, &target, 0) != 0) {
                listing.unreadable.append({name, QStringLiteral("a link to nothing")});
                continue;
            }
            if (!S_ISREG(target.st_mode)) {
                listing.unreadable.append(
                    {name, QStringLiteral("a link to a folder or special file, not followed")});
                continue;
            }
            st = target;
        } else if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
            listing.unreadable.append({name, QStringLiteral("not a regular file")});
            continue;
        }
        Child child;
        child.name = name;
        child.isDirectory = S_ISDIR(st.st_mode);
        child.size = child.isDirectory ? 0 : quint64(st.st_size);
        child.modified = dateOf(st.st_mtim);
        listing.children.append(child);
    }
    return listing;
}

bool LocalTransferFiles::makeFolder(const QString& path) {
    const QByteArray target = encoded(path);
    if (const std::optional<bool> made = makeOneFolder(target, path))
        return *made;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        throw FileError(ENOENT, QStringLiteral("create the folder"), path);
    makeFolder(path.left(slash));
    if (const std::optional<bool> made = makeOneFolder(target, path))
        return *made;
    // The parent just made is gone again.
    throw FileError(ENOENT, QStringLiteral("create the folder"), path);
}

void LocalTransferFiles::removeItem(const QString& path) {
    const QByteArray target = encoded(path);
    struct stat st {};
    if (::lstat(target.constData(), &st) != 0)
        throw FileError::fromErrno(QStringLiteral("remove"), path);
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(target.constData()) != 0)
            throw FileError::fromErrno(QStringLiteral("remove"), path);
        return;
    }
    // Children first, never through a link, and staying on this file system.
    static thread_local int failure = 0;
    static thread_local QByteArray failedPath;
    failure = 0;
    // A folder bound inside from elsewhere on the same file system shows its device number, which
    // is all that the walk below compares: one is looked for first, and then nothing is removed.
    const auto findMount = [](const char* entry, const struct stat*, int type, struct FTW*) -> int {
        if (type != FTW_D)
            return FTW_CONTINUE;
        const FileDescriptor folder(::open(entry, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder.get() < 0)
            return FTW_CONTINUE;
        const FileDescriptor parent(::openat(folder.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parent.get() < 0 || !isMountPoint(parent.get(), folder.get()))
            return FTW_CONTINUE;
        failure = EBUSY;
        failedPath = entry;
        return FTW_STOP;
    };
    if (::nftw(target.constData(), findMount, 32, FTW_PHYS | FTW_MOUNT | FTW_ACTIONRETVAL) != 0 &&
        failure != 0)
        throw FileError(failure, QStringLiteral("remove"), decoded(failedPath.constData()));
    const auto remove = [](const char* entry, const struct stat*, int type, struct FTW*) -> int {
        const int result = type == FTW_DP ? ::rmdir(entry) : ::unlink(entry);
        if (result != 0) {
            failure = errno;
            failedPath = entry;
            return 1;
        }
        return 0;
    };
    if (::nftw(target.constData(), remove, 32, FTW_DEPTH | FTW_PHYS | FTW_MOUNT) != 0) {
        const int error = failure != 0 ? failure : errno;
        throw FileError(error, QStringLiteral("remove"),
                        failure != 0 ? decoded(failedPath.constData()) : path);
    }
}

namespace {

// Syncs one entry: a file's data, a folder's names. A link has nothing of its own to sync.
int syncEntry(const char* path, bool folder) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | (folder ? O_DIRECTORY : 0));
    if (fd < 0)
        return errno == ELOOP ? 0 : errno;
    const int result = (folder ? ::fsync(fd) : ::fdatasync(fd)) == 0 ? 0 : errno;
    ::close(fd);
    return result;
}

} // namespace

void LocalTransferFiles::flushToDisk(const QString& path) {
    const QByteArray target = encoded(path);
    static thread_local int failure = 0;
    static thread_local QByteArray failedPath;
    failure = 0;
    const auto flush = [](const char* entry, const struct stat* st, int type, struct FTW*) -> int {
        if (type != FTW_F && type != FTW_DP)
            return 0;
        if (type == FTW_F && !S_ISREG(st->st_mode))
            return 0;
        if (const int error = syncEntry(entry, type == FTW_DP); error != 0) {
            failure = error;
            failedPath = entry;
            return 1;
        }
        return 0;
    };
    if (::nftw(target.constData(), flush, 32, FTW_DEPTH | FTW_PHYS | FTW_MOUNT) != 0) {
        const int error = failure != 0 ? failure : errno;
        throw FileError(error, QStringLiteral("flush"),
                        failure != 0 ? decoded(failedPath.constData()) : path);
    }
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash <= 0 ? QByteArray(slash == 0 ? "/" : ".") : target.left(slash);
    if (const int error = syncEntry(folder.constData(), true); error != 0)
        throw FileError(error, QStringLiteral("flush"), decoded(folder.constData()));
}

void LocalTransferFiles::flushFileSystems(const QStringList& folders) {
    QList<dev_t> flushed;
    for (const QString& folder : folders) {
        const int fd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            throw FileError::fromErrno(QStringLiteral("flush"), folder);
        struct stat st {};
        int error = ::fstat(fd, &st) == 0 ? 0 : errno;
        if (error == 0 && !flushed.contains(st.st_dev)) {
            // syncfs also reports a write that failed earlier on the file system (since Linux 5.8).
            error = ::syncfs(fd) == 0 ? 0 : errno;
            flushed.append(st.st_dev);
        }
        ::close(fd);
        if (error != 0)
            throw FileError(error, QStringLiteral("flush"), folder);
    }
}

void LocalTransferFiles::setModificationDate(const QString& path, Date date) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = timespecOf(date);
    if (::utimensat(AT_FDCWD, encoded(path).constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw FileError::fromErrno(QStringLiteral("set the modification date of"), path);
}

LocalTransferFiles::CopyResult LocalTransferFiles::copyFile(const QString& source, const QString& target,
                                                            const std::function<qint64()>& chunkBytes,
                                                            const std::function<void(quint64)>& progress,
                                                            bool keepModificationDate, std::stop_token token,
                                                            bool replaceExisting, const QString& partialMark,
                                                            LeftoverJournal* journal) {
    async::throwIfCancelled(token);
    // Non-blocking until we know it is a regular file: opening a named pipe would wait forever.
    const FileDescriptor input(
        ::open(encoded(source).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (input.get() < 0)
        throw FileError::fromErrno(QStringLiteral("open"), source);
    struct stat st {};
    if (::fstat(input.get(), &st) != 0)
        throw FileError::fromErrno(QStringLiteral("read"), source);
    if (!S_ISREG(st.st_mode))
        throw FileError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, QStringLiteral("copy"), source);
    ::fcntl(input.get(), F_SETFL, ::fcntl(input.get(), F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(input.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    LocalReplacement replacement(target, replaceExisting, partialMark, journal);
    if (const int error = replacement.open(); error != 0)
        throw FileError(error, QStringLiteral("create"), target);

    CopyResult result;
    result.sourceModified = dateOf(st.st_mtim);
    result.source = FileIdentity::of(st);
    const quint64 expected = quint64(st.st_size);
    QByteArray buffer;
    // Never past the size it had when opened: a file that keeps growing is not copied on and on.
    while (result.bytes < expected) {
        async::throwIfCancelled(token);
        const qint64 size = qint64(std::min<quint64>(quint64(chunkBytes()), expected - result.bytes));
        if (buffer.size() != size)
            buffer.resize(size);
        const ssize_t got = ::read(input.get(), buffer.data(), size_t(size));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw FileError::fromErrno(QStringLiteral("read"), source);
        }
        if (got == 0)
            break;
        if (const int error = writeAll(replacement.fd(), buffer.constData(), size_t(got)); error != 0)
            throw FileError(error, QStringLiteral("write"), target);
        result.bytes += quint64(got);
        if (progress)
            progress(result.bytes);
    }
    // A file that grew or shrank while it was read gave us neither its old nor its new content.
    struct stat now {};
    if (result.bytes != expected || ::fstat(input.get(), &now) != 0 || quint64(now.st_size) != expected) {
        Logger::transfer().error("Size mismatch: source=%llu dest=%llu for %s", expected, result.bytes,
                                 source.mid(source.lastIndexOf(QLatin1Char('/')) + 1));
        throw SizeChangedError(source, expected);
    }
    if (keepModificationDate) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1] = st.st_mtim;
        if (::futimens(replacement.fd(), times) != 0) {
            Logger::transfer().error(
                "Failed to preserve modification date: %s",
                FileError::fromErrno(QStringLiteral("set the modification date of"), target).description());
        }
    }
    bool closeFailed = false;
    if (const int error = replacement.commit(&closeFailed); error != 0) {
        if (error == EEXIST && !closeFailed && !replaceExisting)
            throw NameTakenError(target);
        throw FileError(error, closeFailed ? QStringLiteral("write") : QStringLiteral("replace"), target);
    }
    return result;
}
