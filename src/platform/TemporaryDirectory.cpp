#include "platform/TemporaryDirectory.h"

#include "platform/FileHandle.h"
#include "platform/FileTreeRemoval.h"
#include "platform/PlatformLog.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>

#include <algorithm>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// lstat, so a symlink is seen as what it is and never followed.
bool isPrivateFolder(const QString& path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    return S_ISDIR(status.st_mode) && status.st_uid == ::getuid() && (status.st_mode & 077) == 0;
}

QString makePrivateFolder(const QString& tempPath) {
    const QString preferred = tempPath + QStringLiteral("/orvanta-") + QString::number(::getuid());
    // mkdir refuses to follow or replace anything already there, so this either makes our folder
    // or leaves the check below to judge what exists.
    if (::mkdir(QFile::encodeName(preferred).constData(), 0700) == 0 || errno == EEXIST) {
        if (isPrivateFolder(preferred))
            return preferred;
        platformLog().error("Refusing temporary folder %s: not a private folder of this user", preferred);
    } else {
        platformLog().error("Could not create temporary folder %s: %s", preferred, std::strerror(errno));
    }
    QByteArray unique = QFile::encodeName(preferred + QStringLiteral("-XXXXXX"));
    if (::mkdtemp(unique.data()))
        return QFile::decodeName(unique);
    platformLog().error("Could not create a temporary folder below %s: %s", tempPath, std::strerror(errno));
    return {};
}

const QString runsFolderName = QStringLiteral("Runs");
constexpr qsizetype runNameLength = 16;

bool isRunName(const QString& name) {
    return name.size() == runNameLength && std::all_of(name.begin(), name.end(), [](QChar c) {
               return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
           });
}

// Opens the folder name of the folder open as parentFd and locks it; -1 when another holds the
// lock, or when it is no folder (a link included). A lock taken on a folder that was removed
// meanwhile is no lock on the name.
int lockRunFolder(int parentFd, const char* name) {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat held {};
    struct stat named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &held) != 0 ||
        ::fstatat(parentFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino) {
        ::close(fd);
        return -1;
    }
    return fd;
}

struct RunFolder {
    QString base;
    QString path;
    // Plain bytes, for the removal at exit.
    QByteArray runs;
    QByteArray name;
    int lockFd = -1;

    // Whether the path still names the folder that is locked: one removed behind our back and
    // made again by a late write under the same name holds no lock, and an ended run's clean-up
    // would take it.
    bool isStillThere() const {
        struct stat named {};
        struct stat held {};
        return ::lstat(QFile::encodeName(path).constData(), &named) == 0 && ::fstat(lockFd, &held) == 0 &&
               named.st_dev == held.st_dev && named.st_ino == held.st_ino;
    }
};

// The run folders this process made, the one in use last. Never destroyed: the removal at exit
// runs among the static destructors.
struct RunFolders {
    std::mutex mutex;
    QList<RunFolder> made;
    pid_t owner = 0;
};

RunFolders& runFolders() {
    static RunFolders* const folders = new RunFolders;
    return *folders;
}

void removeRunFoldersAtExit() {
    RunFolders& folders = runFolders();
    const std::lock_guard lock(folders.mutex);
    // A child forked from this process that ends through exit() owns none of them.
    if (::getpid() != folders.owner)
        return;
    for (const RunFolder& folder : std::as_const(folders.made)) {
        const int runsFd = ::open(folder.runs.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat status {};
        // Removed while still locked, so that a start meanwhile does not take it on as well.
        if (runsFd >= 0 && ::fstat(runsFd, &status) == 0)
            removeFileTreeAt(runsFd, folder.name.constData(), status.st_dev);
        if (runsFd >= 0)
            ::close(runsFd);
        ::close(folder.lockFd);
    }
    folders.made.clear();
}

std::optional<RunFolder> makeRunFolder(const QString& base) {
    const QString runs = base + u'/' + runsFolderName;
    const QByteArray nativeRuns = QFile::encodeName(runs);
    if (::mkdir(nativeRuns.constData(), 0700) != 0 && errno != EEXIST) {
        platformLog().error("Could not create the folder %s: %s", runs, std::strerror(errno));
        return std::nullopt;
    }
    const int runsFd = ::open(nativeRuns.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (runsFd < 0) {
        platformLog().error("Could not open the folder %s: %s", runs, std::strerror(errno));
        return std::nullopt;
    }
    std::optional<RunFolder> made;
    for (int attempt = 0; attempt < 16 && !made; ++attempt) {
        const QString name = QString::number(QRandomGenerator::global()->generate64(), 16)
                                 .rightJustified(runNameLength, QLatin1Char('0'));
        const QByteArray nativeName = QFile::encodeName(name);
        if (::mkdirat(runsFd, nativeName.constData(), 0700) != 0) {
            if (errno == EEXIST)
                continue;
            platformLog().error("Could not create a run folder in %s: %s", runs, std::strerror(errno));
            break;
        }
        // Free for a moment: a start's clean-up may take it for an ended run's and remove it.
        const int lockFd = lockRunFolder(runsFd, nativeName.constData());
        if (lockFd >= 0)
            made = RunFolder{base, runs + u'/' + name, nativeRuns, nativeName, lockFd};
    }
    ::close(runsFd);
    return made;
}

} // namespace

QString runTemporaryDirectory() {
    const QString base = privateTemporaryDirectory();
    if (base.isEmpty())
        return {};
    RunFolders& folders = runFolders();
    const std::lock_guard lock(folders.mutex);
    if (!folders.made.isEmpty() && folders.made.last().base == base && folders.made.last().isStillThere())
        return folders.made.last().path;
    std::optional<RunFolder> made = makeRunFolder(base);
    if (!made)
        return {};
    if (folders.owner == 0) {
        folders.owner = ::getpid();
        std::atexit(removeRunFoldersAtExit);
        // A run that ends without taking its statics down (a thread still waits on the disk).
        std::at_quick_exit(removeRunFoldersAtExit);
    }
    folders.made.append(*made);
    return made->path;
}

int removeFoldersOfEndedRuns(const QString& privateFolder) {
    if (privateFolder.isEmpty())
        return 0;
    const QString runs = privateFolder + u'/' + runsFolderName;
    const FileDescriptor runsFolder(
        ::open(QFile::encodeName(runs).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (runsFolder.get() < 0 || ::fstat(runsFolder.get(), &status) != 0)
        return 0;
    int removed = 0;
    const QStringList names = QDir(runs).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        if (!isRunName(name))
            continue;
        const QByteArray nativeName = QFile::encodeName(name);
        // Held while its folder goes; free when its run goes on, whose receivers may still read.
        const FileDescriptor lock(lockRunFolder(runsFolder.get(), nativeName.constData()));
        if (lock.get() < 0)
            continue;
        if (removeFileTreeAt(runsFolder.get(), nativeName.constData(), status.st_dev))
            ++removed;
        else
            platformLog().error("Could not remove all of the ended run's folder %s", runs + u'/' + name);
    }
    return removed;
}

QString privateTemporaryDirectory() {
    static QMutex mutex;
    static QString cachedTempPath;
    static QString cachedFolder;

    QMutexLocker lock(&mutex);
    const QString tempPath = QDir::tempPath();
    if (cachedFolder.isEmpty() || tempPath != cachedTempPath || !isPrivateFolder(cachedFolder)) {
        cachedTempPath = tempPath;
        cachedFolder = makePrivateFolder(tempPath);
    }
    return cachedFolder;
}
