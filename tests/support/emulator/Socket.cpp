#include "Socket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/uio.h>
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

Socket Socket::connectUnix(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        errno = ENAMETOOLONG;
        return Socket();
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    Socket s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (s.isValid() && ::connect(s.m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        int err = errno;
        s = Socket();
        errno = err;
    }
    return s;
}

bool Socket::sendAll(const void* data, size_t size) const {
    return sendAll(data, size, nullptr, 0);
}

bool Socket::sendAll(const void* head, size_t headSize, const void* body, size_t bodySize) const {
    iovec parts[2] = {{const_cast<void*>(head), headSize}, {const_cast<void*>(body), bodySize}};
    iovec* part = parts;
    int count = 2;
    while (count > 0) {
        msghdr message{};
        message.msg_iov = part;
        message.msg_iovlen = static_cast<size_t>(count);
        ssize_t n = ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n == 0 && part->iov_len > 0))
            return false;
        auto sent = static_cast<size_t>(n);
        while (count > 0 && sent >= part->iov_len) {
            sent -= part->iov_len;
            ++part;
            --count;
        }
        if (count > 0) {
            part->iov_base = static_cast<char*>(part->iov_base) + sent;
            part->iov_len -= sent;
        }
    }
    return true;
}

size_t Socket::recvSome(void* data, size_t size) const {
    for (;;) {
        ssize_t n = ::recv(m_fd, data, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 ? static_cast<size_t>(n) : 0;
    }
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
