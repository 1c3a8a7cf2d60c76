#include "ConnectionThreads.h"

#include <sys/socket.h>

namespace fakemux {

ConnectionThreads::~ConnectionThreads() {
    stopAndJoin();
}

bool ConnectionThreads::start(Socket socket, std::function<void(const Socket&)> job) {
    reapFinished();
    std::lock_guard lock(m_mutex);
    if (m_stopping)
        return false;
    auto worker = std::make_shared<Worker>();
    int fd = socket.fd();
    m_sockets.insert(fd);
    worker->thread = std::thread([this, worker, job = std::move(job), s = std::move(socket)]() mutable {
        job(s);
        std::lock_guard done(m_mutex);
        // Unregistered before the descriptor closes, so stopping never shuts a reused number.
        m_sockets.erase(s.fd());
        s = Socket();
        worker->done = true;
    });
    m_workers.push_back(std::move(worker));
    return true;
}

void ConnectionThreads::reapFinished() {
    std::list<std::shared_ptr<Worker>> finished;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if ((*it)->done) {
                finished.push_back(*it);
                it = m_workers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& worker : finished)
        worker->thread.join();
}

void ConnectionThreads::stopAndJoin() {
    std::list<std::shared_ptr<Worker>> workers;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (int fd : m_sockets)
            ::shutdown(fd, SHUT_RDWR);
        workers.swap(m_workers);
    }
    for (auto& worker : workers)
        worker->thread.join();
}

} // namespace fakemux
