#pragma once

#include "platform/async/ContinuousClock.h"
#include "platform/async/TaskHandle.h"

#include <QHash>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

// Lets at most one progress value per transfer through in each interval: the first value of a
// transfer always passes, a value that comes sooner than the interval after the last one written
// waits. Only the newest waiting value is kept, and it is written once the interval has passed:
// a copy that sends a burst and then stalls shows the burst's last value, not its first for as
// long as the stall lasts. Main thread only.
class ProgressThrottle {
public:
    static constexpr std::chrono::milliseconds defaultInterval{100};

    using Write = std::function<void(const QUuid& id, quint64 value)>;

    explicit ProgressThrottle(async::ContinuousClock& clock,
                              std::chrono::nanoseconds interval = defaultInterval);
    // write publishes a value, at once or once its wait is over.
    ProgressThrottle(async::ContinuousClock& clock, Write write,
                     std::chrono::nanoseconds interval = defaultInterval);
    ~ProgressThrottle();
    ProgressThrottle(const ProgressThrottle&) = delete;
    ProgressThrottle& operator=(const ProgressThrottle&) = delete;

    // True when a value may be published now; the time is then remembered as the last flush.
    bool admit(const QUuid& id);
    // Writes value now when admit() lets it through; otherwise keeps it, in place of any value
    // kept before, for the write due once the interval since the last one has passed.
    void offer(const QUuid& id, quint64 value);
    // A value published past the throttle (a finished item's total) is newer than the kept one.
    void dropKept(const QUuid& id);
    bool hasKept(const QUuid& id) const { return m_kept.contains(id); }
    // Remembers now as the last flush of a value that was published anyway.
    void markFlushed(const QUuid& id);
    void forget(const QUuid& id);
    bool hasFlushed(const QUuid& id) const { return m_lastFlush.contains(id); }

private:
    struct Kept {
        quint64 value = 0;
        async::TaskHandle<void> flush;
    };

    static async::Task<void> writeWhenDue(ProgressThrottle* self, std::weak_ptr<const bool> alive,
                                          async::ContinuousClock::Duration wait, QUuid id,
                                          std::stop_token token);
    void writeKept(const QUuid& id);

    async::ContinuousClock& m_clock;
    std::chrono::nanoseconds m_interval;
    Write m_write;
    QHash<QUuid, async::ContinuousClock::Instant> m_lastFlush;
    QHash<QUuid, Kept> m_kept;
    // The waits outlive nothing of ours: each looks here before it touches the throttle.
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
};
