#include "platform/MemoryTrim.h"

#include "platform/async/MainThread.h"
#include "platform/async/SerialExecutor.h"

#include <QTimer>

#include <malloc.h>

namespace {

// Long enough for every view and cache that held the old data to have taken the new.
constexpr int settleMs = 2000;

struct Trimmer {
    Trimmer() {
        timer.setSingleShot(true);
        timer.setInterval(settleMs);
        QObject::connect(&timer, &QTimer::timeout, [this] { worker.post([] { malloc_trim(0); }); });
    }
    QTimer timer;
    async::SerialExecutor worker{QStringLiteral("MemoryTrim")};
};

} // namespace

void MemoryTrim::request() {
    Q_ASSERT(async::isMainThread());
    // Never destroyed: a request may come while the application ends.
    static auto* trimmer = new Trimmer;
    trimmer->timer.start();
}
