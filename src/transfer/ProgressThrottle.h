#pragma once

#include "platform/async/ContinuousClock.h"

#include <QHash>
#include <QUuid>

#include <chrono>

// Lets at most one progress value per transfer through in each interval: the first value of a
// transfer always passes, a value that comes sooner than the interval after the last one that
// passed is dropped. Main thread only.
class ProgressThrottle {
public:
    static constexpr std::chrono::milliseconds defaultInterval{100};

    explicit ProgressThrottle(async::ContinuousClock& clock,
                              std::chrono::nanoseconds interval = defaultInterval);

    // True when a value may be published now; the time is then remembered as the last flush.
    bool admit(const QUuid& id);
    // Remembers now as the last flush of a value that was published anyway.
    void markFlushed(const QUuid& id);
    void forget(const QUuid& id);
    bool hasFlushed(const QUuid& id) const { return m_lastFlush.contains(id); }

private:
    async::ContinuousClock& m_clock;
    std::chrono::nanoseconds m_interval;
    QHash<QUuid, async::ContinuousClock::Instant> m_lastFlush;
};
