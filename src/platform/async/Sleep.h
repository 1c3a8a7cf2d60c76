#pragma once

// A coroutine sleep on the main loop. A stop request ends it at once with CancelledError: the
// stop callback may fire on any thread, so it only resumes the continuation, which posts the
// wake-up to the main loop (rule 1).

#include "platform/async/Task.h"

#include <chrono>
#include <stop_token>

namespace async {

// Sleeps at least duration (rounded up to whole milliseconds); throws CancelledError when token
// is or becomes stopped. A zero or negative duration still goes through the event loop once.
Task<void> sleepFor(std::chrono::nanoseconds duration, std::stop_token token);

} // namespace async
