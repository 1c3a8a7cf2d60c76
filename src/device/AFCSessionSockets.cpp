#include "device/AFCSessionSockets.h"

#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The signal that wakes the worker from a wait; harmless to everything else (ignored by default,
// and nothing here uses out-of-band data).
constexpr int wakeSignal = SIGURG;

void wake(int) {}

void installWakeHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(wakeSignal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
            return;
        struct sigaction action {};
        action.sa_handler = wake;
        sigemptyset(&action.sa_mask);
        // Interrupted file reads and writes start again on their own; a wait in select() or
        // poll() returns, which is the point.
        action.sa_flags = SA_RESTART;
        ::sigaction(wakeSignal, &action, nullptr);
    });
}

// Puts a socket whose other end is already closed in the place of fd. Reads of it end at once, a
// write fails at once, and it is always ready, whereas the shut-down original reads as
// not writable for as long as the bytes it sent still wait unread at the device's end: a library
// that waits for room to write would wait its full time-out, again and again.
void replaceWithClosedSocket(int fd) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        return;
    ::close(pair[1]);
    ::dup3(pair[0], fd, O_CLOEXEC);
    ::close(pair[0]);
}

// The library keeps its client structures private, but each begins with the handle it talks
// through: an AFC client with its service client, a service client with its connection. Only these
// leading pointers are read; the connection's descriptor then comes from the public call.
struct ServiceClientHead {
    idevice_connection_t connection;
};
struct AFCClientHead {
    ServiceClientHead* parent;
};

} // namespace

AFCSessionSockets::AFCSessionSockets() {
    installWakeHandler();
}

int AFCSessionSockets::socketOf(afc_client_t afc) {
    if (!afc)
        return -1;
    const auto* client = reinterpret_cast<const AFCClientHead*>(afc);
    if (!client->parent || !client->parent->connection)
        return -1;
    int fd = -1;
    if (idevice_connection_get_fd(client->parent->connection, &fd) != IDEVICE_E_SUCCESS || fd < 0)
        return -1;
    // A descriptor that is no socket would mean the structures were not what they were taken for.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
        return -1;
    return fd;
}

void AFCSessionSockets::add(const QString& key, int fd) {
    std::lock_guard lock(m_mutex);
    m_sockets.insert(key, Session{fd, ++m_lastSerial});
    m_cut.remove(key);
    // Sessions are added by the thread that makes the library calls: the one interrupt() wakes.
    m_worker = ::pthread_self();
}

void AFCSessionSockets::remove(const QString& key) {
    std::lock_guard lock(m_mutex);
    m_sockets.remove(key);
}

std::optional<quint64> AFCSessionSockets::aliveSession(const QString& key) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_sockets.constFind(key);
    if (it == m_sockets.cend())
        return std::nullopt;
    // A session whose socket could not be found is taken at its word until a call fails on it.
    if (it->fd < 0)
        return it->serial;
    pollfd watched{it->fd, POLLRDHUP, 0};
    if (::poll(&watched, 1, 0) < 0)
        return it->serial;
    if (watched.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))
        return std::nullopt;
    return it->serial;
}

bool AFCSessionSockets::shutDown(const Session& session) {
    if (session.fd < 0)
        return false;
    // The shutdown wakes a wait for an answer and tells the device end; the replacement makes
    // every later step fail fast. The descriptor stays the library's to close.
    ::shutdown(session.fd, SHUT_RDWR);
    replaceWithClosedSocket(session.fd);
    return true;
}

void AFCSessionSockets::wakeWorker() {
    // A wait for room to write is not ended by either: the signal ends it, and the library's
    // next look finds the replacement. The worker lives as long as this object's owner.
    if (m_worker)
        ::pthread_kill(*m_worker, wakeSignal);
}

void AFCSessionSockets::interrupt(const QString& udid) {
    const QString appPrefix = udid + QLatin1Char(':');
    std::lock_guard lock(m_mutex);
    bool interrupted = false;
    for (auto it = m_sockets.cbegin(); it != m_sockets.cend(); ++it) {
        if (udid.isEmpty() || it.key() == udid || it.key().startsWith(appPrefix))
            interrupted = shutDown(*it) || interrupted;
    }
    for (auto it = m_starts.cbegin(); it != m_starts.cend(); ++it) {
        if (udid.isEmpty() || it.key() == udid || it.key().startsWith(appPrefix))
            it.value()();
    }
    if (interrupted)
        wakeWorker();
}

void AFCSessionSockets::cut(const QString& key) {
    std::lock_guard lock(m_mutex);
    if (const auto start = m_starts.constFind(key); start != m_starts.cend()) {
        start.value()();
        m_cut.insert(key);
        return;
    }
    const auto it = m_sockets.constFind(key);
    if (it == m_sockets.cend() || !shutDown(*it))
        return;
    m_cut.insert(key);
    wakeWorker();
}

bool AFCSessionSockets::takeCut(const QString& key) {
    std::lock_guard lock(m_mutex);
    return m_cut.remove(key);
}

void AFCSessionSockets::addStart(const QString& key, std::function<void()> abandon) {
    std::lock_guard lock(m_mutex);
    m_starts.insert(key, std::move(abandon));
}

void AFCSessionSockets::removeStart(const QString& key) {
    std::lock_guard lock(m_mutex);
    m_starts.remove(key);
}
