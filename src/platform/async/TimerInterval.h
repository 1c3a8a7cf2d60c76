#pragma once

// QTimer takes its interval as an int of milliseconds, and Qt's chrono overloads merely cast the
// count: a duration past about 24.8 days wraps, often to a negative or zero interval, and the
// timer then fires at once or is refused and never fires. Every duration on its way to a QTimer
// goes through timerInterval, and every deadline of a clock through saturatedDeadline, so that a
// "practically for ever" stays one.

#include <algorithm>
#include <chrono>
#include <limits>

namespace async {

// The longest interval a QTimer accepts.
inline constexpr std::chrono::milliseconds longestTimerInterval{std::numeric_limits<int>::max()};

// duration rounded up to whole milliseconds (a timer must not fire before it is due), 0 for a
// negative duration (or NaN), at most longestTimerInterval.
template <class Rep, class Period>
constexpr std::chrono::milliseconds timerInterval(std::chrono::duration<Rep, Period> duration) {
    // Compared as a double: converting a huge count to milliseconds first would overflow.
    const double millis = std::chrono::duration<double, std::milli>(duration).count();
    if (!(millis > 0)) {
        return std::chrono::milliseconds(0);
    }
    if (millis >= double(longestTimerInterval.count())) {
        return longestTimerInterval;
    }
    return std::min(std::chrono::ceil<std::chrono::milliseconds>(duration), longestTimerInterval);
}

// start + duration, held at the largest or smallest instant instead of overflowing.
inline std::chrono::nanoseconds saturatedDeadline(std::chrono::nanoseconds start,
                                                  std::chrono::nanoseconds duration) {
    using Rep = std::chrono::nanoseconds::rep;
    Rep sum = 0;
    if (__builtin_add_overflow(start.count(), duration.count(), &sum)) {
        return duration.count() > 0 ? std::chrono::nanoseconds::max() : std::chrono::nanoseconds::min();
    }
    return std::chrono::nanoseconds(sum);
}

} // namespace async
