#include "device/AFCSendRoom.h"

#include "platform/async/Cancellation.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <linux/sockios.h>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

// How often a wait for room looks at the cancel again. The wait is met only when a request was
// sent before the device took the last one, which the library's requests never do one after
// another; it need not be sharper.
constexpr int waitTick = 50; // milliseconds

// The free bytes of the socket's send buffer; nothing when they cannot be learnt.
std::optional<int64_t> freeSendBytes(int fd) {
    int buffer = 0;
    socklen_t length = sizeof buffer;
    if (::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, &length) != 0)
        return std::nullopt;
    // Bytes sent and not yet taken by the other end (for a local socket, with the kernel's own
    // share of each buffer counted in, which is what its limit is measured against).
    int queued = 0;
    if (::ioctl(fd, SIOCOUTQ, &queued) != 0)
        return std::nullopt;
    return int64_t(buffer) - int64_t(queued);
}

} // namespace

void AFCSendRoom::widen(int fd, uint32_t chunkBytes) {
    if (fd < 0)
        return;
    int current = 0;
    socklen_t length = sizeof current;
    if (::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &current, &length) == 0 && fitting(current) >= chunkBytes)
        return;
    // The system doubles what it is asked for to cover its bookkeeping, and caps the request.
    const int asked = int(std::min<int64_t>(int64_t(chunkBytes) + writeOverhead, INT32_MAX / 2));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &asked, sizeof asked);
}

uint32_t AFCSendRoom::fitting(int64_t freeBytes) {
    // A local socket counts each buffer of data with its bookkeeping, a few percent more: an
    // eighth covers it.
    const int64_t usable = freeBytes - freeBytes / 8 - writeOverhead;
    return usable > 0 ? uint32_t(std::min<int64_t>(usable, UINT32_MAX)) : 0;
}

uint32_t AFCSendRoom::take(int fd, uint32_t wanted, std::stop_token token) {
    if (fd < 0 || wanted == 0)
        return wanted;
    const uint32_t enough = std::min(wanted, smallestPiece);
    short watched = POLLOUT;
    for (;;) {
        async::throwIfCancelled(token);
        const std::optional<int64_t> free = freeSendBytes(fd);
        if (!free)
            return wanted;
        const uint32_t room = fitting(*free);
        if (room >= enough)
            return std::min(wanted, room);
        pollfd socket{fd, watched, 0};
        const int ready = ::poll(&socket, 1, waitTick);
        // A closed or cut connection: the library's request fails at once on it.
        if (ready > 0 && (socket.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return wanted;
        // Writable yet too little room: only time tells when there is more.
        if (ready > 0 && (socket.revents & POLLOUT))
            watched = 0;
    }
}
