#include "app/Quitting.h"

#include "device/AFCBridge.h"
#include "platform/Logger.h"
#include "platform/async/TaskHandle.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace {

// How long the end waits for the tasks it asked to stop. They end within moments: the services'
// threads have dropped what was queued, and a call on a silent device is cut off.
constexpr std::chrono::seconds tasksEndLimit{2};

} // namespace

namespace Quitting {

void begin() {
    async::beginShutdown();
}

int finish(int status) {
    // The services' executors answered the jobs they dropped with cancellations, and the jobs in
    // progress answer as they end: delivering those lets every task end, and with the last task
    // that holds a service the service's threads.
    const QDeadlineTimer tasksDeadline(tasksEndLimit);
    while (async::spawnedTasksRunning() > 0 && !tasksDeadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    if (async::spawnedTasksRunning() > 0)
        Logger::ui().error("%d tasks still running at the end", async::spawnedTasksRunning());
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // A bridge destroyed while a copy hung on a silent device closes on a thread of its own; it
    // is cut off within half a second, and the process must not end under it.
    AFCBridge::waitForRetiredBridges(std::chrono::seconds(1));
    return status;
}

} // namespace Quitting
