#pragma once

#include "platform/async/ContinuousClock.h"

#include <QHash>
#include <QUuid>

#include <chrono>
#include <deque>

// The speed of each running transfer as the progress panel shows it: the bytes moved over the
// last few seconds, read against now rather than against the last value, so that it falls while
// nothing moves and is zero once nothing has moved for a whole window. A first value alone, or
// values that went backwards (the second phase of a copy between two devices starts again from
// its base), give no speed until more come. Main thread only.
class TransferSpeed {
public:
    static constexpr std::chrono::seconds window{3};

    explicit TransferSpeed(async::ContinuousClock& clock);

    // The transfer's byte count now.
    void record(const QUuid& id, quint64 value);
    // Records value only when nothing was recorded for id yet.
    void start(const QUuid& id, quint64 value);
    // Bytes per second over the window up to now; 0 with nothing to measure.
    double bytesPerSecond(const QUuid& id) const;
    // Forgets what was measured, at the end and while the transfer waits for an answer: time
    // spent waiting is no part of the speed.
    void forget(const QUuid& id);

private:
    struct Sample {
        async::ContinuousClock::Instant at;
        quint64 value;
    };

    async::ContinuousClock& m_clock;
    QHash<QUuid, std::deque<Sample>> m_samples;
};
