#pragma once

// What a finished task left behind: its value or its exception. race and spawn keep a task's
// end in one of these until someone takes it, so that void and non-void tasks share one path.

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace async::detail {

template <typename T> class Outcome {
public:
    using Value = std::conditional_t<std::is_void_v<T>, bool, T>;

    bool isSet() const { return m_value.has_value() || m_error != nullptr; }
    std::exception_ptr error() const { return m_error; }

    template <typename... Args> void setValue(Args&&... args) {
        m_value.emplace(std::forward<Args>(args)...);
    }
    void setError(std::exception_ptr error) { m_error = std::move(error); }

    // Rethrows the error, or hands out the value: a copy when the value can be copied (several
    // awaiters may ask), else the value itself, once.
    T get() {
        if (m_error) {
            std::rethrow_exception(m_error);
        }
        if constexpr (std::is_void_v<T>) {
            return;
        } else if constexpr (std::is_copy_constructible_v<Value>) {
            return *m_value;
        } else {
            return std::move(*m_value);
        }
    }

private:
    std::optional<Value> m_value;
    std::exception_ptr m_error;
};

} // namespace async::detail
