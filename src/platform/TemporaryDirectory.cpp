#include "platform/TemporaryDirectory.h"

#include "platform/PlatformLog.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

} // namespace

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
