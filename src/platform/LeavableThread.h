#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// A worker thread that its owner may leave behind. A look at a folder on a network share whose
// server went silent waits in the kernel for as long as the server is silent (on a hard mount,
// for good): the owner that ends meanwhile must not wait with it, nor keep the program from
// ending. The body must then touch only what it owns (shared state it holds a reference to), so
// that it can end on its own whenever the call returns.
class LeavableThread {
public:
    LeavableThread() = default;
    // finish() or join() must have been called.
    ~LeavableThread();
    LeavableThread(const LeavableThread&) = delete;
    LeavableThread& operator=(const LeavableThread&) = delete;

    void start(std::function<void()> body);
    bool isStarted() const { return m_end != nullptr; }
    // After the owner asked the body to end: waits up to limit for it, then joins it, or leaves
    // it to end on its own. Whether it had ended.
    bool finish(std::chrono::milliseconds limit);
    // Waits for the body's end, however long it takes.
    void join();

    // How many threads were left behind and have not ended yet.
    static int leftRunning();
    // Waits up to limit for every thread left behind to end; whether they all had.
    static bool waitForLeft(std::chrono::milliseconds limit);

private:
    struct End {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        bool left = false;
    };

    std::shared_ptr<End> m_end;
    std::thread m_thread;
};
