#pragma once

// A coroutine sleep on the main loop. A stop request ends it at once with CancelledError: the
// stop callback may fire on any thread, so it only resumes the continuation, which posts the
// wake-up to the main loop where coroutines run.

#include "platform/async/Task.h"

#include <chrono>
#include <stop_token>

namespace async {

// Sleeps at least duration (rounded up to whole milliseconds), but one timer's longest interval
// (about 24.8 days) at most: a longer sleep is a ContinuousClock's, which sleeps again until its
// deadline. Throws CancelledError when token is or becomes stopped. A zero or negative duration
// still goes through the event loop once.
Task<void> sleepFor(std::chrono::nanoseconds duration, std::stop_token token);

} // namespace async
