#pragma once

#include <cstdint>
#include <stop_token>

// Room in the send buffer of a device connection, so that a write request is never handed to the
// library unless the socket can take all of it at once.
//
// The library's send waits only about a second for room in the socket and then gives up part way
// through a request, yet reports the request as sent and waits for an answer the device cannot
// give: the device still waits for the rest. A device busy with its own storage stops taking data
// for longer than that, and the connection would be out of step for good. A request that fits
// whole leaves the socket at once, and the library then waits for the answer as long as it waits
// for any answer.
//
// Executor only: these look at the socket and may wait, never long unless the device is stuck.
class AFCSendRoom {
public:
    // The bytes of a write request around its data: the packet header and the file handle.
    static constexpr uint32_t writeOverhead = 48;
    // The smallest piece worth a request of its own.
    static constexpr uint32_t smallestPiece = 16 * 1024;

    // Asks for a send buffer that holds a whole write of chunkBytes. The system may grant less (a
    // user's process gets at most net.core.wmem_max); writes are then cut to fit. fd < 0: nothing.
    static void widen(int fd, uint32_t chunkBytes);
    // The number of data bytes, at most wanted and never 0, that the socket takes in one write
    // request now, waiting while it has less room than the smaller of wanted and smallestPiece
    // (only when the device has not yet taken what was sent before). A socket that cannot be
    // asked (fd < 0, a failed look) or that is closed gives wanted: the library finds out the
    // rest. Throws async::CancelledError once token is stopped.
    static uint32_t take(int fd, uint32_t wanted, std::stop_token token);

    // The data bytes a write request may carry into free bytes of send buffer, leaving room for
    // the kernel's own bookkeeping of what waits there.
    static uint32_t fitting(int64_t freeBytes);

    AFCSendRoom() = delete;
};
