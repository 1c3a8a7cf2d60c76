#include "app/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace TerminationSignals {

namespace {

int sockets[2] = {-1, -1};
volatile sig_atomic_t graceSeconds = int(defaultGrace.count());
// The first signal caught, 0 before it.
volatile sig_atomic_t caught = 0;

// Async-signal-safe: the signal's default action, which for these ends the process. Raised from
// inside the signal's own handler it is delivered as the handler returns.
void endAsByDefault(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    ::raise(signal);
}

void onTerminationSignal(int signal) {
    const int savedErrno = errno;
    if (caught != 0) {
        endAsByDefault(signal);
    } else {
        caught = signal;
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(sockets[1], &byte, 1);
        ::alarm(unsigned(graceSeconds));
    }
    errno = savedErrno;
}

void onDeadline(int) {
    endAsByDefault(caught != 0 ? int(caught) : SIGTERM);
}

} // namespace

bool installHandlers(std::chrono::seconds grace) {
    graceSeconds = int(std::max<std::chrono::seconds::rep>(grace.count(), 1));
    if (sockets[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sockets) != 0) {
        sockets[0] = sockets[1] = -1;
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    struct sigaction deadline {};
    deadline.sa_handler = onDeadline;
    sigemptyset(&deadline.sa_mask);
    ::sigaction(SIGALRM, &deadline, nullptr);
    return true;
}

int readableSocket() {
    return sockets[0];
}

void take() {
    ::alarm(0);
    char byte = 0;
    while (::read(sockets[0], &byte, 1) > 0) {
    }
}

bool quitOnTerminationSignals(QObject* owner, std::function<void()> quit, std::chrono::seconds grace) {
    if (!installHandlers(grace))
        return false;
    auto* notifier = new QSocketNotifier(readableSocket(), QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [notifier, quit = std::move(quit)] {
        take();
        notifier->setEnabled(false);
        quit();
    });
    return true;
}

} // namespace TerminationSignals
