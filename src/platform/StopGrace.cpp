#include "platform/StopGrace.h"

#include "platform/Subscription.h"
#include "platform/async/MainThread.h"

#include <atomic>
#include <optional>

namespace {

struct Armed {
    std::atomic<bool> ended{false};
    // Whether the stop came, and with it (perhaps) a timer.
    std::atomic<bool> stopped{false};
    // Started and released on the main thread only, as timers are.
    Subscription timer;
};

struct Guard {
    std::shared_ptr<Armed> armed = std::make_shared<Armed>();
    std::optional<std::stop_callback<std::function<void()>>> onStop;

    Guard() = default;
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    ~Guard() {
        // Waits for a stop callback running on another thread, so none posts after this.
        onStop.reset();
        armed->ended = true;
        // Without a stop no timer was ever started, nor will be; most guards end so.
        if (!armed->stopped || async::isMainThread())
            return;
        // The timer, if one was started, is the main thread's to release.
        async::postToMain([armed = std::move(armed)] {});
    }
};

} // namespace

std::shared_ptr<void> StopGrace::arm(std::stop_token token, UiTimerSource& timers,
                                     UiTimerSource::Duration grace, std::function<void()> act) {
    if (!token.stop_possible())
        return {};
    auto guard = std::make_shared<Guard>();
    const std::weak_ptr<Armed> weak = guard->armed;
    // The stop may come on any thread (or at once, when token is stopped already): the grace is
    // timed on the main loop, which never waits on the work.
    std::function<void()> onStop = [weak, &timers, grace, act = std::move(act)] {
        if (const std::shared_ptr<Armed> armed = weak.lock())
            armed->stopped = true;
        async::postToMain([weak, &timers, grace, act] {
            const std::shared_ptr<Armed> armed = weak.lock();
            if (!armed || armed->ended)
                return;
            armed->timer = timers.singleShot(grace, [weak, act] {
                const std::shared_ptr<Armed> still = weak.lock();
                if (still && !still->ended)
                    act();
            });
        });
    };
    guard->onStop.emplace(std::move(token), std::move(onStop));
    return guard;
}
