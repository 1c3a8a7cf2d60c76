#include "SilentMount.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// The "major:minor" of what is mounted at path, from the mount table: the FUSE connection's
// control folder is named by the minor. Asked of the table, since a stat of the silent root
// would wait like any other look.
QByteArray deviceMinor(const QString& path) {
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    const QByteArray wanted = QFile::encodeName(path);
    QByteArray found;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4 && fields[4] == wanted)
            found = fields[2].mid(fields[2].indexOf(':') + 1); // the last mount there wins
    }
    return found;
}

} // namespace

SilentMount::SilentMount(const QString& folder, std::chrono::milliseconds longestSilence)
    : m_mountPoint(QDir::cleanPath(folder) + QStringLiteral("/share")) {
    if (::geteuid() != 0) {
        m_failure = QStringLiteral("mounting a FUSE file system needs root");
        return;
    }
    if (!QDir().mkpath(m_mountPoint)) {
        m_failure = QStringLiteral("could not make %1").arg(m_mountPoint);
        return;
    }
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        m_failure = QStringLiteral("/dev/fuse: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    const QByteArray options = "fd=" + QByteArray::number(fd) + ",rootmode=40000,user_id=0,group_id=0";
    if (::mount("orvanta-silent", QFile::encodeName(m_mountPoint).constData(), "fuse", MS_NOSUID | MS_NODEV,
                options.constData()) != 0) {
        m_failure = QStringLiteral("mount: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return;
    }
    m_fd = fd;
    m_watchdog = std::thread([this, longestSilence] { watch(longestSilence); });
}

SilentMount::~SilentMount() {
    goAway();
    if (m_watchdog.joinable())
        m_watchdog.join();
}

void SilentMount::watch(std::chrono::milliseconds longestSilence) {
    {
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, longestSilence, [this] { return m_gone; }))
            return;
        m_fired = true;
    }
    goAway();
}

bool SilentMount::watchdogFired() const {
    const std::lock_guard lock(m_mutex);
    return m_fired;
}

void SilentMount::goAway() {
    {
        const std::lock_guard lock(m_mutex);
        if (m_gone || m_fd < 0)
            return;
        m_gone = true;
    }
    m_wake.notify_all();
    // Aborting the connection fails every request that waits and every one to come; closing the
    // server's end does the same when nothing else holds it, and is all there is where the
    // connections' control folder is not mounted.
    const QByteArray minor = deviceMinor(m_mountPoint);
    if (!minor.isEmpty()) {
        QFile abort(QStringLiteral("/sys/fs/fuse/connections/%1/abort").arg(QString::fromLatin1(minor)));
        if (abort.open(QIODevice::WriteOnly))
            abort.write("1");
    }
    ::close(m_fd);
    ::umount2(QFile::encodeName(m_mountPoint).constData(), MNT_DETACH);
}
