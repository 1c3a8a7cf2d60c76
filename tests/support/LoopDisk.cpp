#include "LoopDisk.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/loop.h>
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
    if (!m_loopDevice.isEmpty())
        run(QStringLiteral("losetup"), {QStringLiteral("-d"), m_loopDevice});
    QFile::remove(m_image);
    if (!m_otherDisk.isEmpty())
        QFile::remove(m_otherDisk);
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
    // Through the loop device held, or one that mount(8) attaches (and lets go with the unmount).
    const QString source = m_loopDevice.isEmpty() ? m_image : m_loopDevice;
    const QString loop = m_loopDevice.isEmpty() ? QStringLiteral("loop") : QString();
    if (m_kind == Kind::ext4) {
        // ext4 writes its log every 5 s by default: a longer interval keeps a commit that happens
        // to fall between a copy and the cut from hiding what the copy did not make durable.
        const QString options =
            loop.isEmpty() ? QStringLiteral("commit=600") : loop + QStringLiteral(",commit=600");
        m_mounted = run(QStringLiteral("mount"), {QStringLiteral("-o"), options, source, m_mountPoint});
    } else {
        for (const QString& type : {QStringLiteral("exfat"), QStringLiteral("exfat-fuse")}) {
            QStringList arguments{QStringLiteral("-t"), type};
            if (!loop.isEmpty())
                arguments << QStringLiteral("-o") << loop;
            m_mounted = run(QStringLiteral("mount"), arguments << source << m_mountPoint);
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

bool LoopDisk::remount() {
    return holdLoopDevice() && unmount() && mount();
}

bool LoopDisk::holdLoopDevice() {
    if (!m_loopDevice.isEmpty())
        return true;
    QProcess finding;
    finding.start(QStringLiteral("findmnt"),
                  {QStringLiteral("-n"), QStringLiteral("-o"), QStringLiteral("SOURCE"),
                   QStringLiteral("--mountpoint"), m_mountPoint});
    const bool found = finding.waitForFinished(60000) && finding.exitStatus() == QProcess::NormalExit &&
                       finding.exitCode() == 0;
    const QString device = QString::fromLocal8Bit(finding.readAllStandardOutput()).trimmed();
    if (!found || !device.startsWith(QStringLiteral("/dev/loop"))) {
        m_failure = QStringLiteral("no loop device is mounted at %1").arg(m_mountPoint);
        return false;
    }
    // mount(8) lets its loop device go with the unmount; without that flag the device stays
    // attached, and no one else can take it between the two disks.
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_CLOEXEC);
    loop_info64 info{};
    bool held = fd >= 0 && ::ioctl(fd, LOOP_GET_STATUS64, &info) == 0;
    if (held) {
        info.lo_flags &= ~quint32(LO_FLAGS_AUTOCLEAR);
        held = ::ioctl(fd, LOOP_SET_STATUS64, &info) == 0;
    }
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!held) {
        m_failure =
            QStringLiteral("could not keep %1: %2").arg(device, QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
    m_loopDevice = device;
    return true;
}

bool LoopDisk::copyBytes(const QString& from, const QString& to) {
    QFile source(from);
    QFile target(to);
    if (!source.open(QIODevice::ReadOnly) || !target.open(QIODevice::ReadWrite)) {
        m_failure = QStringLiteral("could not copy %1 to %2").arg(from, to);
        return false;
    }
    for (;;) {
        const QByteArray chunk = source.read(1 << 20);
        if (chunk.isEmpty())
            break;
        if (target.write(chunk) != chunk.size()) {
            m_failure = QStringLiteral("could not write %1").arg(to);
            return false;
        }
    }
    target.flush();
    if (::fsync(target.handle()) != 0) {
        m_failure = QStringLiteral("could not flush %1").arg(to);
        return false;
    }
    return true;
}

bool LoopDisk::swapDisk() {
    if (m_kind != Kind::ext4) {
        m_failure = QStringLiteral("only ext4 disks are swapped");
        return false;
    }
    if (!holdLoopDevice() || !unmount())
        return false;
    const QString taken = m_image + QStringLiteral(".taken");
    if (!copyBytes(m_loopDevice, taken))
        return false;
    const bool inserted =
        m_otherDisk.isEmpty()
            ? run(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-F"), m_loopDevice})
            : copyBytes(m_otherDisk, m_loopDevice);
    if (!inserted)
        return false;
    m_otherDisk = m_image + QStringLiteral(".other");
    QFile::remove(m_otherDisk);
    if (!QFile::rename(taken, m_otherDisk)) {
        m_failure = QStringLiteral("could not keep the disk taken out");
        return false;
    }
    return mount();
}
