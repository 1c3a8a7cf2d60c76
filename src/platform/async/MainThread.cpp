// The hop back to the main loop that every resumption of a coroutine goes through, so that no
// coroutine ever continues on a worker thread.

#include "platform/async/MainThread.h"

#include "platform/async/AsyncLog.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace async {

void postToMain(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        qCWarning(lcAsync, "postToMain without an application object: job dropped");
        return;
    }
    // A queued call on the application object is a posted event: thread-safe, FIFO per poster.
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

bool isMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace async
