#include "app/Quitting.h"

#include "device/AFCBridge.h"
#include "platform/LeavableThread.h"
#include "platform/Logger.h"
#include "platform/UserDefaults.h"
#include "platform/async/SerialExecutor.h"
#include "platform/async/TaskHandle.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cstdio>
#include <cstdlib>

namespace {

// How long the end waits for the tasks it asked to stop, and for the threads left behind whose
// jobs were merely slow (a big folder listed). They end within moments: the services' threads
// have dropped what was queued, and a call on a silent device is cut off.
constexpr std::chrono::seconds tasksEndLimit{2};
// How long an end that leaves a thread behind waits for the settings' last write; they may be on
// the share that stopped answering, where the write would wait with that thread.
constexpr std::chrono::seconds settingsWriteLimit{2};

} // namespace

namespace Quitting {

void begin() {
    async::beginShutdown();
    // Nobody waits for an answer any more: the tasks awaiting a look end now, and with them what
    // they hold.
    async::SerialExecutor::leaveRunningJobs();
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
    if (!LeavableThread::waitForLeft(std::chrono::milliseconds(tasksDeadline.remainingTime()))) {
        // A thread still waits in the kernel on a share that stopped answering, and nothing can
        // end it but the end of the process. Should the share answer now, its job would run on
        // into globals being destroyed: the process ends without destroying them. (A leak check
        // at exit would also wait for that thread for good.)
        Logger::ui().info("%d threads still wait on the disk; ending without them",
                          LeavableThread::leftRunning());
        // The settings, the transfer history among them, are written at the end by the store's
        // destructor, which quick_exit skips: what the last moments changed is written now.
        UserDefaults::flushStandard(settingsWriteLimit);
        std::fflush(nullptr);
        std::quick_exit(status);
    }
    return status;
}

} // namespace Quitting
