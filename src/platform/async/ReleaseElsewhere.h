#pragma once

// Frees big plain data on a thread of its own. A listing, a transfer's sources or a report of
// 100,000 items takes tens of milliseconds to free (a hundred thousand records of several
// strings each, given back to the allocator one by one), which the window's thread must not
// spend: the owner hands its last reference here instead of dropping it.
//
// Only for plain values (strings, URLs, lists, implicitly shared records): nothing that must end
// on the thread that made it (a QObject, a continuation, a task, a subscription).

#include <functional>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>

namespace async {

namespace detail {
// Runs the job on the releasing thread; any thread may call it.
void postRelease(std::function<void()> job);
} // namespace detail

// Takes the values and destroys them on the releasing thread. What another owner still shares
// is only unreferenced there.
template <typename... T> void releaseElsewhere(T&&... values) {
    static_assert((!std::is_lvalue_reference_v<T> && ...), "hand over the values with std::move");
    auto held = std::make_shared<std::tuple<std::decay_t<T>...>>(std::move(values)...);
    detail::postRelease([held = std::move(held)]() mutable { held.reset(); });
}

} // namespace async
