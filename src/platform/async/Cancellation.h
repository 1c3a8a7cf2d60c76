#pragma once

// Cooperative cancellation. Cancellation travels as std::stop_token, always the last
// parameter of a cancellable coroutine, and surfaces as CancelledError. CancelledError is
// deliberately not a std::exception: a `catch (const std::exception&)` that reports failures
// must not swallow a cancellation and turn it into an error message.

#include <stop_token>

namespace async {

struct CancelledError {};

// A token that stops as soon as either of two others does: a job that its caller may cancel and
// whose owner may stop it watches both. Not movable: the callbacks point at its own source.
class EitherStop {
public:
    EitherStop(const std::stop_token& first, const std::stop_token& second)
        : m_first(first, Request{&m_source}), m_second(second, Request{&m_source}) {}
    EitherStop(const EitherStop&) = delete;
    EitherStop& operator=(const EitherStop&) = delete;

    std::stop_token token() const { return m_source.get_token(); }

private:
    struct Request {
        std::stop_source* source;
        void operator()() const { source->request_stop(); }
    };

    std::stop_source m_source;
    std::stop_callback<Request> m_first;
    std::stop_callback<Request> m_second;
};

// Throws CancelledError when a stop was requested on token.
inline void throwIfCancelled(const std::stop_token& token) {
    if (token.stop_requested()) {
        throw CancelledError{};
    }
}

} // namespace async
