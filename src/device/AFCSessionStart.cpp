#include "device/AFCSessionStart.h"

#include "device/AFCError.h"
#include "device/AFCSessionSockets.h"

#include <libimobiledevice/afc.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace {

std::atomic<int> startsRunning{0};

struct StartState {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    bool abandoned = false;
    AFCSession session;
    std::exception_ptr error;
};

} // namespace

AFCSession AFCSessionStart::run(AFCSessionSockets& sockets, const QString& key,
                                std::function<AFCSession()> open) {
    auto state = std::make_shared<StartState>();
    sockets.addStart(key, [state] {
        const std::lock_guard lock(state->mutex);
        state->abandoned = true;
        state->changed.notify_all();
    });
    ++startsRunning;
    try {
        std::thread([state, open = std::move(open)] {
            AFCSession session;
            std::exception_ptr error;
            try {
                session = open();
            } catch (...) {
                error = std::current_exception();
            }
            bool orphaned = false;
            {
                const std::lock_guard lock(state->mutex);
                orphaned = state->abandoned;
                if (!orphaned) {
                    state->session = session;
                    state->error = error;
                    state->done = true;
                }
                state->changed.notify_all();
            }
            // Nobody waits for it any more: what it opened is its own to free.
            if (orphaned)
                session.release();
            --startsRunning;
        }).detach();
    } catch (...) {
        --startsRunning;
        sockets.removeStart(key);
        throw;
    }

    AFCSession session;
    bool abandoned = false;
    std::exception_ptr error;
    {
        std::unique_lock lock(state->mutex);
        state->changed.wait(lock, [&] { return state->done || state->abandoned; });
        abandoned = state->abandoned;
        session = state->session;
        state->session = AFCSession{};
        error = state->error;
    }
    sockets.removeStart(key);
    if (abandoned) {
        // Given up just as it ended: the session came, but nobody is to use it.
        session.release();
        throw AFCError::withLibraryResult(AFCError::Case::sessionFailed,
                                          QStringLiteral("Session start for ") + key +
                                              QStringLiteral(" given up: the device did not answer"),
                                          AFC_E_SERVICE_NOT_CONNECTED);
    }
    if (error)
        std::rethrow_exception(error);
    return session;
}

int AFCSessionStart::threadsRunning() {
    return startsRunning.load();
}

bool AFCSessionStart::waitForThreads(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (startsRunning.load() > 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
