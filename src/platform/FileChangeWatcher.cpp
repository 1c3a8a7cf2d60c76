#include "platform/FileChangeWatcher.h"

#include "platform/PlatformLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// A write in place ends with a close, a save beside the file with the rename onto its name, and a
// file linked in whole (an unnamed temporary file) with its creation.
constexpr uint32_t watchedEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE;

} // namespace

FileChangeWatcher::FileChangeWatcher(const QString& filePath, std::function<void()> onChange)
    : m_fileName(QFile::encodeName(QFileInfo(filePath).fileName())), m_onChange(std::move(onChange)) {
    const QString folder = QFileInfo(filePath).absolutePath();
    QDir().mkpath(folder);
    m_inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    m_stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_inotify < 0 || m_stop < 0 ||
        ::inotify_add_watch(m_inotify, QFile::encodeName(folder).constData(), watchedEvents | IN_ONLYDIR) <
            0) {
        platformLog().error("Cannot watch %s for changes by other programs: %s", filePath,
                            QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_thread = std::thread([this] { run(); });
}

FileChangeWatcher::~FileChangeWatcher() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        (void)!::write(m_stop, &one, sizeof one);
        m_thread.join();
    }
    if (m_inotify >= 0)
        ::close(m_inotify);
    if (m_stop >= 0)
        ::close(m_stop);
}

void FileChangeWatcher::run() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        pollfd watched[2] = {{m_inotify, POLLIN, 0}, {m_stop, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[1].revents != 0)
            return;
        bool ours = false;
        for (;;) {
            const ssize_t length = ::read(m_inotify, buffer, sizeof buffer);
            if (length <= 0)
                break;
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                // The events of one read are gathered into one call; a lost queue (overflow)
                // may have held ours.
                if ((event->mask & IN_Q_OVERFLOW) ||
                    (event->len > 0 && m_fileName == QByteArray(event->name)))
                    ours = true;
                at += ssize_t(sizeof(inotify_event)) + event->len;
            }
        }
        if (ours)
            m_onChange();
    }
}
