#pragma once

#include <cstddef>
#include <string>

namespace fakemux {

// A connected or listening stream socket that owns its descriptor. Every send uses MSG_NOSIGNAL so
// that a client going away surfaces as a failed send, never as SIGPIPE in the test process.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Binds and listens on a Unix socket path; throws std::system_error on failure.
    static Socket listenUnix(const std::string& path);

    int fd() const { return m_fd; }
    // Gives up ownership without closing, for a descriptor that was only borrowed.
    int release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    bool isValid() const { return m_fd >= 0; }

    // Sends all bytes, or returns false once the peer is gone.
    bool sendAll(const void* data, size_t size) const;
    // Receives exactly size bytes, or returns false on end of stream or error.
    bool recvExact(void* data, size_t size) const;
    // Accepts one connection; an invalid socket when the listener was shut down.
    Socket accept() const;

private:
    int m_fd = -1;
};

} // namespace fakemux
