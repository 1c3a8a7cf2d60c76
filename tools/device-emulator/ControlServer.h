#pragma once

#include "emulator/ConnectionThreads.h"
#include "emulator/Socket.h"

#include <functional>
#include <string>
#include <thread>

// The control socket of a running emulator: a Unix socket that takes one command per line and
// answers each with the text the handler makes. A connection may send many commands, so that an
// interactive session (socat) works as well as the one-shot control mode. Readable by its owner
// only: whoever reaches it can unplug devices and inject faults.
class ControlServer {
public:
    // Takes one line without its line break; returns the whole answer, line breaks included.
    using Handler = std::function<std::string(const std::string& line)>;

    // Binds and starts accepting; throws std::system_error when the socket cannot be made.
    ControlServer(std::string path, Handler handler);
    // Stops accepting, cuts every connection, joins every thread and removes the socket.
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    const std::string& path() const { return m_path; }

private:
    void acceptLoop();
    void serve(const fakemux::Socket& socket) const;

    const std::string m_path;
    const Handler m_handler;
    fakemux::Socket m_listener;
    fakemux::ConnectionThreads m_connections;
    std::thread m_acceptThread;
};
