#pragma once

#include "platform/UiTimerSource.h"

#include <functional>
#include <memory>
#include <stop_token>

// What to do about work that a stop request did not end: work that waits on something that has
// stopped answering (a device, a socket) never sees the request, so once the request has stood for
// a grace period with the work still going, something must end the wait from outside (cut the
// connection it waits on).
class StopGrace {
public:
    // Armed as the work starts; the returned guard is held until the work ends and may be
    // dropped on any thread. Once token has been stopped for grace (counted from the later of the
    // stop request and this call) while the guard is still held, act runs once, on the main
    // thread. Nothing happens when token cannot be stopped (an empty guard). timers must outlive
    // the guard's grace.
    [[nodiscard]] static std::shared_ptr<void> arm(std::stop_token token, UiTimerSource& timers,
                                                   UiTimerSource::Duration grace, std::function<void()> act);

    StopGrace() = delete;
};
