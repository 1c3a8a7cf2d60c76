#pragma once

// The one task type of the program. QCoro 0.8's Task is not [[nodiscard]], so a dropped task
// (one nobody co_awaits or spawns) would compile silently and run detached, its failure lost and
// its frame free to outlive everything it refers to. This thin wrapper
// keeps QCoro's promise, eager start and awaiting, and adds [[nodiscard]]: with
// -Werror=unused-result a discarded task is a build error.

#include <qcoro/qcorotask.h>

#include <type_traits>
#include <utility>

namespace async {

template <typename T = void> class [[nodiscard]] Task {
public:
    // QCoro's promise hands out a QCoro::Task; the implicit conversion below turns it into ours.
    using promise_type = QCoro::detail::TaskPromise<T>;
    using value_type = T;

    Task() noexcept = default;
    Task(QCoro::Task<T>&& inner) noexcept : m_inner(std::move(inner)) {}
    Task(Task&&) noexcept = default;
    Task& operator=(Task&&) noexcept = default;
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() = default;

    // True once the coroutine has run to its end (or for an empty task).
    bool isReady() const { return m_inner.isReady(); }

    auto operator co_await() const noexcept { return m_inner.operator co_await(); }

private:
    QCoro::Task<T> m_inner;
};

template <typename T> struct IsTask : std::false_type {};
template <typename T> struct IsTask<Task<T>> : std::true_type {};

// The value type of the task that callable F returns when called with Args.
template <typename F, typename... Args>
using TaskResultOf = typename std::invoke_result_t<F, Args...>::value_type;

} // namespace async
