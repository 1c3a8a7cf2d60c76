#include "transfer/TransferSpeed.h"

TransferSpeed::TransferSpeed(async::ContinuousClock& clock) : m_clock(clock) {}

void TransferSpeed::record(const QUuid& id, quint64 value) {
    const auto now = m_clock.now();
    std::deque<Sample>& samples = m_samples[id];
    if (!samples.empty() && value < samples.back().value)
        samples.clear();
    samples.push_back(Sample{now, value});
    // One sample at or before the window's start is kept: it is where the window's count begins.
    while (samples.size() > 2 && samples[1].at <= now - window)
        samples.pop_front();
}

void TransferSpeed::start(const QUuid& id, quint64 value) {
    if (!m_samples.contains(id))
        record(id, value);
}

double TransferSpeed::bytesPerSecond(const QUuid& id) const {
    const auto found = m_samples.constFind(id);
    if (found == m_samples.constEnd() || found->size() < 2)
        return 0;
    const std::deque<Sample>& samples = *found;
    const auto now = m_clock.now();
    const auto windowStart = now - window;
    // The latest sample at or before the window's start, else the first.
    size_t base = 0;
    while (base + 1 < samples.size() && samples[base + 1].at <= windowStart)
        ++base;
    const Sample& first = samples[base];
    const Sample& last = samples.back();
    const double seconds = std::chrono::duration<double>(now - first.at).count();
    if (last.value == first.value || !(seconds > 0))
        return 0;
    return double(last.value - first.value) / seconds;
}

void TransferSpeed::forget(const QUuid& id) {
    m_samples.remove(id);
}
