#include "platform/LeavableThread.h"

#include <cassert>

namespace {

struct Left {
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0;
};

// Never destroyed: a thread left behind may end while the process's statics go.
Left& left() {
    static auto* const threads = new Left;
    return *threads;
}

} // namespace

LeavableThread::~LeavableThread() {
    assert(!m_thread.joinable());
}

void LeavableThread::start(std::function<void()> body) {
    m_end = std::make_shared<End>();
    m_thread = std::thread([end = m_end, body = std::move(body)] {
        body();
        const std::lock_guard lock(end->mutex);
        end->done = true;
        if (end->left) {
            const std::lock_guard counting(left().mutex);
            --left().running;
            left().changed.notify_all();
        }
        end->ended.notify_all();
    });
}

bool LeavableThread::finish(std::chrono::milliseconds limit) {
    if (!m_thread.joinable())
        return true;
    {
        std::unique_lock lock(m_end->mutex);
        if (!m_end->ended.wait_for(lock, limit, [this] { return m_end->done; })) {
            m_end->left = true;
            {
                const std::lock_guard counting(left().mutex);
                ++left().running;
            }
            m_thread.detach();
            return false;
        }
    }
    m_thread.join();
    return true;
}

void LeavableThread::join() {
    if (m_thread.joinable())
        m_thread.join();
}

int LeavableThread::leftRunning() {
    const std::lock_guard lock(left().mutex);
    return left().running;
}

bool LeavableThread::waitForLeft(std::chrono::milliseconds limit) {
    std::unique_lock lock(left().mutex);
    return left().changed.wait_for(lock, limit, [] { return left().running == 0; });
}
