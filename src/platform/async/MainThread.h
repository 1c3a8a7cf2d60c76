#pragma once

// Our coroutines run and resume on the main thread only, so that what they touch between awaits
// (Qt objects, the services' own records) is only ever touched from one thread. Everything that
// crosses back from a worker thread (an executor job's result, a stop request, a process
// signal) goes through postToMain, so the main event loop is the one place where coroutines
// continue.

#include <functional>

namespace async {

// Queues fn on the main thread's event loop; callable from any thread. Jobs posted from one
// thread run in the order they were posted. Without a QCoreApplication the job is dropped
// (and logged): there is no loop that could ever run it.
void postToMain(std::function<void()> fn);

// True on the thread of the QCoreApplication.
bool isMainThread();

} // namespace async
