#include "Socket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace fakemux {

Socket::~Socket() {
    if (m_fd >= 0)
        ::close(m_fd);
}

Socket::Socket(Socket&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

Socket Socket::listenUnix(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    // The client library truncates longer paths silently, so refuse them here where it is visible.
    if (path.size() >= sizeof(addr.sun_path))
        throw std::system_error(ENAMETOOLONG, std::generic_category(), "socket path too long: " + path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

    Socket s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.isValid())
        throw std::system_error(errno, std::generic_category(), "socket");
    ::unlink(path.c_str());
    if (::bind(s.m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0)
        throw std::system_error(errno, std::generic_category(), "bind " + path);
    if (::listen(s.m_fd, 64) != 0)
        throw std::system_error(errno, std::generic_category(), "listen " + path);
    return s;
}

bool Socket::sendAll(const void* data, size_t size) const {
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::send(m_fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool Socket::recvExact(void* data, size_t size) const {
    auto p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::recv(m_fd, p, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

Socket Socket::accept() const {
    for (;;) {
        int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0 || errno != EINTR)
            return Socket(fd);
    }
}

} // namespace fakemux
