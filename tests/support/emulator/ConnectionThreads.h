#pragma once

#include "Socket.h"

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace fakemux {

// One blocking thread per connection. Every live socket is registered, so that stopping shuts them
// all down and joins every thread; finished threads are reaped as new ones start.
class ConnectionThreads {
public:
    ~ConnectionThreads();

    // Runs the job on a thread of its own with the socket; false when already stopping (the
    // socket is closed then).
    bool start(Socket socket, std::function<void(const Socket&)> job);
    // Shuts every registered socket down and joins all threads; later starts are refused.
    void stopAndJoin();

private:
    struct Worker {
        std::thread thread;
        bool done = false;
    };
    void reapFinished();

    std::mutex m_mutex;
    bool m_stopping = false;
    std::set<int> m_sockets;
    std::list<std::shared_ptr<Worker>> m_workers;
};

} // namespace fakemux
