// The executor thread and its queue; jobs never see coroutines, only plain calls.

#include "platform/async/SerialExecutor.h"

#include "platform/async/AsyncLog.h"

namespace async {

SerialExecutor::SerialExecutor(QString name) : m_name(std::move(name)) {}

SerialExecutor::~SerialExecutor() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_jobs);
    }
    m_wake.notify_one();
    m_shutdown.request_stop();
    if (m_thread.joinable())
        m_thread.join();
    if (!dropped.empty()) {
        qCDebug(lcAsync, "%s: %zu pending jobs dropped at shutdown", qUtf8Printable(m_name), dropped.size());
    }
    // Destroying the jobs here, on the owner's thread, abandons their continuations: their
    // waiters are cancelled rather than left hanging.
    dropped.clear();
}

void SerialExecutor::post(std::function<void()> job) {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            return;
        }
        m_jobs.push_back(std::move(job));
        // The thread starts with the first job: a program holds many actors, most of which have
        // nothing to do while its first window is built, and some never do.
        if (!m_thread.joinable()) {
            m_thread = std::thread([this] { loop(); });
            m_threadId = m_thread.get_id();
        }
    }
    m_wake.notify_one();
}

void SerialExecutor::stop() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped.swap(m_jobs);
    }
    m_shutdown.request_stop();
    if (!dropped.empty()) {
        qCDebug(lcAsync, "%s: %zu pending jobs dropped at stop", qUtf8Printable(m_name), dropped.size());
    }
}

bool SerialExecutor::isCurrent() const {
    return std::this_thread::get_id() == m_threadId.load();
}

void SerialExecutor::loop() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping) {
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        try {
            job();
        } catch (...) {
            qCWarning(lcAsync, "%s: a posted job failed: %s", qUtf8Printable(m_name),
                      qUtf8Printable(describeException(std::current_exception())));
        }
    }
}

} // namespace async
