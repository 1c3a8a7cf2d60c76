#include "transfer/ProgressThrottle.h"

ProgressThrottle::ProgressThrottle(async::ContinuousClock& clock, std::chrono::nanoseconds interval)
    : ProgressThrottle(clock, Write(), interval) {}

ProgressThrottle::ProgressThrottle(async::ContinuousClock& clock, Write write,
                                   std::chrono::nanoseconds interval)
    : m_clock(clock), m_interval(interval), m_write(std::move(write)) {}

ProgressThrottle::~ProgressThrottle() {
    m_alive.reset();
    for (const Kept& kept : std::as_const(m_kept))
        kept.flush.cancel();
}

bool ProgressThrottle::admit(const QUuid& id) {
    const auto now = m_clock.now();
    const auto last = m_lastFlush.constFind(id);
    if (last != m_lastFlush.constEnd() && now - *last < m_interval)
        return false;
    m_lastFlush.insert(id, now);
    return true;
}

void ProgressThrottle::offer(const QUuid& id, quint64 value) {
    if (admit(id)) {
        dropKept(id);
        if (m_write)
            m_write(id, value);
        return;
    }
    // A write is already on its way for this transfer: it takes the newer value.
    if (const auto kept = m_kept.find(id); kept != m_kept.end()) {
        kept->value = value;
        return;
    }
    m_kept.insert(id, Kept{value, {}});
    const auto wait = m_lastFlush.value(id) + m_interval - m_clock.now();
    const std::weak_ptr<const bool> alive = m_alive;
    ProgressThrottle* self = this;
    async::TaskHandle<void> flush = async::spawn([self, alive, wait, id](std::stop_token token) {
        return writeWhenDue(self, alive, wait, id, token);
    });
    if (const auto kept = m_kept.find(id); kept != m_kept.end())
        kept->flush = std::move(flush);
}

async::Task<void> ProgressThrottle::writeWhenDue(ProgressThrottle* self, std::weak_ptr<const bool> alive,
                                                 async::ContinuousClock::Duration wait, QUuid id,
                                                 std::stop_token token) {
    if (alive.expired())
        co_return;
    async::Task<void> sleeping = self->m_clock.sleep(wait, token);
    co_await sleeping;
    if (alive.expired() || token.stop_requested())
        co_return;
    self->writeKept(id);
}

void ProgressThrottle::writeKept(const QUuid& id) {
    const auto kept = m_kept.find(id);
    if (kept == m_kept.end())
        return;
    const quint64 value = kept->value;
    m_kept.erase(kept);
    m_lastFlush.insert(id, m_clock.now());
    if (m_write)
        m_write(id, value);
}

void ProgressThrottle::dropKept(const QUuid& id) {
    if (const auto kept = m_kept.find(id); kept != m_kept.end()) {
        kept->flush.cancel();
        m_kept.erase(kept);
    }
}

void ProgressThrottle::markFlushed(const QUuid& id) {
    m_lastFlush.insert(id, m_clock.now());
}

void ProgressThrottle::forget(const QUuid& id) {
    dropKept(id);
    m_lastFlush.remove(id);
}
