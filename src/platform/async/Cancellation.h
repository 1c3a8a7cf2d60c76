#pragma once

// Cooperative cancellation (rule 9). Cancellation travels as std::stop_token, always the last
// parameter of a cancellable coroutine, and surfaces as CancelledError. CancelledError is
// deliberately not a std::exception: a `catch (const std::exception&)` that reports failures
// must not swallow a cancellation and turn it into an error message.

#include <stop_token>

namespace async {

struct CancelledError {};

// Throws CancelledError when a stop was requested on token.
inline void throwIfCancelled(const std::stop_token& token) {
    if (token.stop_requested()) {
        throw CancelledError{};
    }
}

} // namespace async
