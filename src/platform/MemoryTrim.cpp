#include "platform/MemoryTrim.h"

#include "platform/Subscription.h"
#include "platform/UiTimerSource.h"
#include "platform/async/MainThread.h"
#include "platform/async/SerialExecutor.h"

#include <malloc.h>

namespace {

// Long enough for every view and cache that held the old data to have taken the new.
constexpr auto settle = std::chrono::seconds(2);

struct Trimmer {
    Subscription timer;
    async::SerialExecutor worker{QStringLiteral("MemoryTrim")};
};

} // namespace

void MemoryTrim::request() {
    Q_ASSERT(async::isMainThread());
    // Never destroyed: a request may come while the application ends.
    static auto* trimmer = new Trimmer;
    // A new request starts the wait again: the trim follows the last of a burst.
    trimmer->timer = UiTimerSource::system().singleShot(settle, [] { trimmer->worker.post([] { malloc_trim(0); }); });
}
