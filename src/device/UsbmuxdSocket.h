#pragma once

#include <QString>

// Where the device library finds usbmuxd, read as the library reads it: USBMUXD_SOCKET_ADDRESS
// ("UNIX:<path>" or "<host>:<port>"), else the system daemon's socket. The daemon is started
// when a device is plugged in and leaves with the last one, so a failed device listing may only
// mean that no device is attached.
class UsbmuxdSocket {
public:
    // True when nothing listens there: the socket file is missing or the connection is refused.
    // Anything else (a daemon that answers, one that is slow, an address that cannot be tried
    // without waiting) counts as present. Never waits: safe on the main thread.
    static bool isAbsent();
    // The same for an address in the variable's form; empty means the system daemon's socket.
    static bool isAbsentAt(const QString& address);

    UsbmuxdSocket() = delete;
};
