#include "services/LocalFileOperations.h"

#include "platform/Error.h"
#include "platform/FileRename.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

LocalFacts factsOf(const struct stat& status) {
    LocalFacts facts;
    facts.isDirectory = S_ISDIR(status.st_mode);
    facts.size = facts.isDirectory || status.st_size < 0 ? 0 : static_cast<quint64>(status.st_size);
    facts.modifiedDate = Date::fromSecondsSince1970(static_cast<double>(status.st_mtim.tv_sec) +
                                                    static_cast<double>(status.st_mtim.tv_nsec) / 1e9);
    return facts;
}

// Closes the folder however the listing leaves.
class OpenFolder {
public:
    explicit OpenFolder(DIR* dir) : m_dir(dir) {}
    ~OpenFolder() {
        if (m_dir)
            ::closedir(m_dir);
    }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    DIR* get() const { return m_dir; }

private:
    DIR* m_dir;
};

} // namespace

QList<LocalFileOperations::Child> LocalFileOperations::children(const QString& folder) {
    const OpenFolder dir(::opendir(QFile::encodeName(folder).constData()));
    if (!dir.get())
        throw FileError::fromErrno(QStringLiteral("list"), folder);
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    QList<Child> result;
    while (const dirent* entry = nextEntry(dir.get(), folder)) {
        struct stat status {};
        // Relative to the open folder, so a folder renamed meanwhile cannot send us elsewhere.
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        result.append(Child{name, prefix + name, factsOf(status)});
    }
    return result;
}

const dirent* LocalFileOperations::nextEntry(DIR* dir, const QString& folder) {
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                throw FileError::fromErrno(QStringLiteral("list"), folder);
            return nullptr;
        }
        if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0)
            return entry;
    }
}

LocalFacts LocalFileOperations::facts(const QString& path) {
    struct stat status {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &status) != 0)
        throw FileError(path.isEmpty() ? ENOENT : errno, QStringLiteral("read the attributes of"), path);
    return factsOf(status);
}

void LocalFileOperations::renameWithoutReplacing(const QString& from, const QString& to) {
    const int error = ::renameWithoutReplacing(QFile::encodeName(from), QFile::encodeName(to));
    if (error == EEXIST)
        throw FileError(EEXIST, QStringLiteral("rename to"), to);
    if (error != 0)
        throw FileError(error, QStringLiteral("rename"), from);
}

void LocalFileOperations::moveToTrash(const QString& path) {
    QFile file(path);
    errno = 0;
    if (file.moveToTrash())
        return;
    // QFile keeps no errno; the failed call's own is the best we have.
    throw FileError(errno != 0 ? errno : EIO, QStringLiteral("move to the Trash"), path);
}
