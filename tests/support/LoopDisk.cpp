#include "LoopDisk.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The file systems' "going down" call (ext4, xfs, f2fs): without flushing the log, what a power
// cut leaves. Not in every distribution's kernel headers yet.
#ifndef FS_IOC_SHUTDOWN
#define FS_IOC_SHUTDOWN _IOR('X', 125, unsigned int)
#endif
constexpr unsigned int shutdownWithoutLogFlush = 2; // FS_SHUTDOWN_FLAGS_NOLOGFLUSH

} // namespace

LoopDisk::LoopDisk(QString folder, Kind kind, int megabytes)
    : m_image(folder + QStringLiteral("/disk.img")), m_mountPoint(folder + QStringLiteral("/disk")),
      m_kind(kind) {
    if (::geteuid() != 0) {
        m_failure = QStringLiteral("mounting a disk image needs root");
        return;
    }
    QFile image(m_image);
    if (!QDir().mkpath(m_mountPoint) || !image.open(QIODevice::WriteOnly) ||
        !image.resize(qint64(megabytes) << 20)) {
        m_failure = QStringLiteral("could not make the image %1").arg(m_image);
        return;
    }
    image.close();
    const bool made = kind == Kind::ext4 ? run(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), m_image})
                                         : run(QStringLiteral("mkfs.exfat"), {m_image});
    if (made)
        mount();
}

LoopDisk::~LoopDisk() {
    unmount();
    QFile::remove(m_image);
}

bool LoopDisk::run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_failure = QStringLiteral("%1 %2 failed: %3 %4")
                        .arg(program, arguments.join(QLatin1Char(' ')), process.errorString(),
                             QString::fromLocal8Bit(process.readAll()).trimmed());
        return false;
    }
    return true;
}

bool LoopDisk::mount() {
    if (m_mounted)
        return true;
    if (m_kind == Kind::ext4) {
        // ext4 writes its log every 5 s by default: a longer interval keeps a commit that happens
        // to fall between a copy and the cut from hiding what the copy did not make durable.
        m_mounted = run(QStringLiteral("mount"),
                        {QStringLiteral("-o"), QStringLiteral("loop,commit=600"), m_image, m_mountPoint});
    } else {
        for (const QString& type : {QStringLiteral("exfat"), QStringLiteral("exfat-fuse")}) {
            m_mounted = run(QStringLiteral("mount"), {QStringLiteral("-t"), type, QStringLiteral("-o"),
                                                      QStringLiteral("loop"), m_image, m_mountPoint});
            if (m_mounted)
                break;
        }
    }
    return m_mounted;
}

bool LoopDisk::unmount() {
    if (!m_mounted)
        return true;
    // Something of the process may still hold a file there; a lazy unmount lets go of the name.
    if (!run(QStringLiteral("umount"), {m_mountPoint}) &&
        !run(QStringLiteral("umount"), {QStringLiteral("-l"), m_mountPoint}))
        return false;
    m_mounted = false;
    return true;
}

bool LoopDisk::cutPower() {
    const int fd = ::open(QFile::encodeName(m_mountPoint).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        m_failure = QStringLiteral("could not open %1: %2")
                        .arg(m_mountPoint, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    unsigned int flags = shutdownWithoutLogFlush;
    const int result = ::ioctl(fd, FS_IOC_SHUTDOWN, &flags);
    const int error = errno;
    ::close(fd);
    if (result != 0) {
        m_failure = QStringLiteral("the file system would not shut down: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
    return unmount() && mount();
}
