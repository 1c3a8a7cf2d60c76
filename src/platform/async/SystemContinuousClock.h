#pragma once

// The real continuous clock: readings from std::chrono::steady_clock, sleeps on a QTimer of the
// main loop.

#include "platform/async/ContinuousClock.h"

namespace async {

class SystemContinuousClock final : public ContinuousClock {
public:
    Instant now() const override;
    Task<void> sleep(Duration duration, std::stop_token token) override;

    // The process-wide instance for services that are not handed a clock of their own.
    static SystemContinuousClock& shared();
};

} // namespace async
