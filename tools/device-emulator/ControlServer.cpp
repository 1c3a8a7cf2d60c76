#include "ControlServer.h"

#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {
// A command is a handful of words; anything longer is a client gone wrong.
constexpr size_t maxLine = 64 * 1024;
} // namespace

ControlServer::ControlServer(std::string path, Handler handler)
    : m_path(std::move(path)), m_handler(std::move(handler)),
      m_listener(fakemux::Socket::listenUnix(m_path)) {
    if (::chmod(m_path.c_str(), S_IRUSR | S_IWUSR) != 0) {
        int err = errno;
        ::unlink(m_path.c_str());
        throw std::system_error(err, std::generic_category(), "chmod " + m_path);
    }
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

ControlServer::~ControlServer() {
    ::shutdown(m_listener.fd(), SHUT_RDWR);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    m_connections.stopAndJoin();
    ::unlink(m_path.c_str());
}

void ControlServer::acceptLoop() {
    for (;;) {
        fakemux::Socket client = m_listener.accept();
        if (!client.isValid())
            return;
        if (!m_connections.start(std::move(client), [this](const fakemux::Socket& s) { serve(s); }))
            return;
    }
}

void ControlServer::serve(const fakemux::Socket& socket) const {
    std::string pending;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(socket.fd(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::string answer = m_handler(line);
            if (!socket.sendAll(answer.data(), answer.size()))
                return;
        }
        if (pending.size() > maxLine) {
            // Every line gets an answer, this one too, before the connection ends.
            static constexpr char tooLong[] = "error: the command is longer than 64 KiB\n";
            socket.sendAll(tooLong, sizeof tooLong - 1);
            return;
        }
    }
}
