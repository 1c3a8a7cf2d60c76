#include "device/UsbmuxdSocket.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr const char* systemSocket = "/var/run/usbmuxd";

// A connect that gives up instead of waiting: a Unix socket answers at once, a TCP one either
// refuses at once or is left undecided.
bool refuses(int domain, const sockaddr* address, socklen_t length) {
    const int fd = ::socket(domain, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int result = ::connect(fd, address, length);
    const int error = result == 0 ? 0 : errno;
    ::close(fd);
    return error == ENOENT || error == ECONNREFUSED;
}

bool unixSocketAbsent(const QByteArray& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return refuses(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
}

bool tcpSocketAbsent(const QString& hostAndPort) {
    const qsizetype colon = hostAndPort.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = hostAndPort.left(colon);
    bool ok = false;
    const uint port = hostAndPort.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return false;
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    const QByteArray text = host.toLatin1();
    // Only numeric addresses: looking a name up may wait on the network.
    sockaddr_in v4{};
    if (::inet_pton(AF_INET, text.constData(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(quint16(port));
        return refuses(AF_INET, reinterpret_cast<const sockaddr*>(&v4), sizeof(v4));
    }
    sockaddr_in6 v6{};
    if (::inet_pton(AF_INET6, text.constData(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(quint16(port));
        return refuses(AF_INET6, reinterpret_cast<const sockaddr*>(&v6), sizeof(v6));
    }
    return false;
}

} // namespace

bool UsbmuxdSocket::isAbsent() {
    return isAbsentAt(qEnvironmentVariable("USBMUXD_SOCKET_ADDRESS"));
}

bool UsbmuxdSocket::isAbsentAt(const QString& address) {
    if (address.startsWith(QLatin1String("UNIX:"))) {
        const QString path = address.mid(5);
        // The library falls back to the system socket for an empty path.
        return unixSocketAbsent(path.isEmpty() ? QByteArray(systemSocket) : path.toLocal8Bit());
    }
    if (address.contains(QLatin1Char(':')))
        return tcpSocketAbsent(address);
    return unixSocketAbsent(QByteArray(systemSocket));
}
