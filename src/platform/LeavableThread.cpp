#include "platform/LeavableThread.h"

#include <atomic>
#include <cassert>

namespace {

std::atomic<int> leftThreads{0};

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
        if (end->left)
            --leftThreads;
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
            ++leftThreads;
            m_thread.detach();
            return false;
        }
    }
    m_thread.join();
    return true;
}

int LeavableThread::leftRunning() {
    return leftThreads.load();
}
