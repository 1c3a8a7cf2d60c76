#include "transfer/ProgressThrottle.h"

ProgressThrottle::ProgressThrottle(async::ContinuousClock& clock, std::chrono::nanoseconds interval)
    : m_clock(clock), m_interval(interval) {}

bool ProgressThrottle::admit(const QUuid& id) {
    const auto now = m_clock.now();
    const auto last = m_lastFlush.constFind(id);
    if (last != m_lastFlush.constEnd() && now - *last < m_interval)
        return false;
    m_lastFlush.insert(id, now);
    return true;
}

void ProgressThrottle::markFlushed(const QUuid& id) {
    m_lastFlush.insert(id, m_clock.now());
}

void ProgressThrottle::forget(const QUuid& id) {
    m_lastFlush.remove(id);
}
