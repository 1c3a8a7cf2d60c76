#include "ControlClient.h"

#include "ControlLine.h"
#include "emulator/Socket.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>

namespace {

// The whole answer: the server answers each line, then ends the connection once we stop sending.
bool exchange(const std::string& path, const std::string& line, std::string& answer, std::string& error) {
    fakemux::Socket socket = fakemux::Socket::connectUnix(path);
    if (!socket.isValid() || !socket.sendAll(line.data(), line.size()) ||
        ::shutdown(socket.fd(), SHUT_WR) != 0) {
        error = std::strerror(errno);
        return false;
    }
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(socket.fd(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (n == 0)
            return true;
        answer.append(buffer, static_cast<size_t>(n));
    }
}

} // namespace

int ControlClient::run(const QString& socketPath, const QStringList& words) {
    for (const QString& word : words) {
        if (word.contains(QLatin1Char('\n')) || word.contains(QLatin1Char('\r'))) {
            std::fprintf(stderr, "device-emulator: a command word cannot hold a line break\n");
            return 2;
        }
    }
    std::string answer, error;
    const std::string line = ControlLine::join(words).toStdString() + '\n';
    if (!exchange(socketPath.toStdString(), line, answer, error)) {
        std::fprintf(stderr, "device-emulator: cannot reach the emulator at %s: %s\n", qPrintable(socketPath),
                     error.c_str());
        return 2;
    }
    const QStringList lines = QString::fromStdString(answer).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString last = lines.value(lines.size() - 1);
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        std::printf("%s\n", qPrintable(lines.at(i)));
    // "ok" is printed too: a command that changes a device prints nothing else, and silence
    // would leave whoever typed it guessing.
    if (last == QLatin1String("ok")) {
        std::printf("ok\n");
        return 0;
    }
    std::fprintf(stderr, "device-emulator: %s\n",
                 last.isEmpty() ? "the emulator closed the connection without an answer" : qPrintable(last));
    return 1;
}
