// The executor thread and its queue; jobs never see coroutines, only plain calls.

#include "platform/async/SerialExecutor.h"

#include "platform/LeavableThread.h"
#include "platform/async/AsyncLog.h"

#include <algorithm>
#include <vector>

namespace async {

// Shared with the threads, so that one left behind ends on its own.
struct SerialExecutor::Queue {
    QString name;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    bool stopping = false;
    // The number of the thread that takes the jobs: one left behind finds a later one and ends
    // after its job.
    quint64 crew = 0;
    bool running = false;
    std::function<void()> giveUpRunning;
    // Read by isCurrent() from any thread without the lock; no thread's own id before a start.
    std::atomic<std::thread::id> threadId;

    void loop(quint64 mine) {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this, mine] { return stopping || crew != mine || !jobs.empty(); });
                if (stopping || crew != mine)
                    return;
                job = std::move(jobs.front());
                jobs.pop_front();
                running = true;
                giveUpRunning = job.giveUp;
            }
            try {
                job.run();
            } catch (...) {
                qCWarning(lcAsync, "%s: a posted job failed: %s", qUtf8Printable(name),
                          qUtf8Printable(describeException(std::current_exception())));
            }
            const std::lock_guard lock(mutex);
            // Left meanwhile: the owner answered the waiter, and another thread has the queue.
            if (crew != mine)
                return;
            running = false;
            giveUpRunning = nullptr;
        }
    }
};

namespace {

// The leavable executors alive, for quitting.
std::mutex leavablesMutex;
std::vector<SerialExecutor*>& leavables() {
    static std::vector<SerialExecutor*> executors;
    return executors;
}

} // namespace

SerialExecutor::SerialExecutor(QString name) : m_queue(std::make_shared<Queue>()) {
    m_queue->name = std::move(name);
}

SerialExecutor::SerialExecutor(QString name, Leavable leavable) : SerialExecutor(std::move(name)) {
    m_leavable = leavable;
    const std::lock_guard lock(leavablesMutex);
    leavables().push_back(this);
}

SerialExecutor::~SerialExecutor() {
    if (m_leavable) {
        const std::lock_guard lock(leavablesMutex);
        std::erase(leavables(), this);
    }
    std::deque<Job> dropped;
    std::unique_ptr<LeavableThread> thread;
    {
        std::lock_guard lock(m_queue->mutex);
        m_queue->stopping = true;
        dropped.swap(m_queue->jobs);
        thread = std::move(m_thread);
    }
    m_queue->wake.notify_all();
    m_shutdown.request_stop();
    if (thread && !m_leavable) {
        thread->join();
    } else if (thread && !thread->finish(m_leavable->wait)) {
        std::function<void()> giveUp;
        {
            const std::lock_guard lock(m_queue->mutex);
            giveUp = std::exchange(m_queue->giveUpRunning, nullptr);
        }
        qCDebug(lcAsync, "%s: a job still running is left to its thread", qUtf8Printable(m_queue->name));
        if (giveUp)
            giveUp();
    }
    if (!dropped.empty()) {
        qCDebug(lcAsync, "%s: %zu pending jobs dropped at shutdown", qUtf8Printable(m_queue->name),
                dropped.size());
    }
    // Destroying the jobs here, on the owner's thread, abandons their continuations: their
    // waiters are cancelled rather than left hanging.
    dropped.clear();
}

void SerialExecutor::post(std::function<void()> job) {
    enqueue(Job{std::move(job), {}});
}

void SerialExecutor::enqueue(Job job) {
    {
        std::lock_guard lock(m_queue->mutex);
        if (m_queue->stopping) {
            return;
        }
        m_queue->jobs.push_back(std::move(job));
        // The thread starts with the first job: a program holds many actors, most of which have
        // nothing to do while its first window is built, and some never do.
        if (!m_thread) {
            m_thread = std::make_unique<LeavableThread>();
            m_thread->start([queue = m_queue, mine = m_queue->crew] {
                queue->threadId = std::this_thread::get_id();
                queue->loop(mine);
            });
        }
    }
    m_queue->wake.notify_all();
}

void SerialExecutor::stop() {
    std::deque<Job> dropped;
    {
        std::lock_guard lock(m_queue->mutex);
        dropped.swap(m_queue->jobs);
    }
    m_shutdown.request_stop();
    if (!dropped.empty()) {
        qCDebug(lcAsync, "%s: %zu pending jobs dropped at stop", qUtf8Printable(m_queue->name), dropped.size());
    }
}

void SerialExecutor::leaveRunningJob() {
    stop();
    std::unique_ptr<LeavableThread> thread;
    std::function<void()> giveUp;
    {
        const std::lock_guard lock(m_queue->mutex);
        if (!m_queue->running)
            return;
        ++m_queue->crew;
        m_queue->running = false;
        thread = std::move(m_thread);
        giveUp = std::exchange(m_queue->giveUpRunning, nullptr);
    }
    qCDebug(lcAsync, "%s: a job still running is left to its thread", qUtf8Printable(m_queue->name));
    if (giveUp)
        giveUp();
    thread->finish(std::chrono::milliseconds(0));
}

void SerialExecutor::leaveRunningJobs() {
    const std::lock_guard lock(leavablesMutex);
    for (SerialExecutor* executor : leavables())
        executor->leaveRunningJob();
}

bool SerialExecutor::isCurrent() const {
    return std::this_thread::get_id() == m_queue->threadId.load();
}

} // namespace async
