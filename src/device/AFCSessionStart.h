#pragma once

#include "device/AFCSession.h"

#include <QString>

#include <chrono>
#include <functional>

class AFCSessionSockets;

// Starts a session on a thread of its own while the calling (executor) thread waits for it. A
// start talks over connections the library makes and keeps to itself, so none of them can be
// shut down from outside while the device leaves the start unanswered; the wait can be given up
// instead: cutting the session under its key, or interrupting its device, ends the wait at once
// with a lost connection, and the thread, left to finish alone, frees whatever it opened when
// the device answers or goes. The executor is then free for every other device's work.
class AFCSessionStart {
public:
    // Runs open() and hands its session over; rethrows its AFCError. Given up: AFCError
    // sessionFailed whose result means a lost connection.
    static AFCSession run(AFCSessionSockets& sockets, const QString& key, std::function<AFCSession()> open);

    // Start threads still running: those given up wait on their device.
    static int threadsRunning();
    // Waits until no such thread runs, at most limit; whether none does. For the end of a process.
    static bool waitForThreads(std::chrono::milliseconds limit);

    AFCSessionStart() = delete;
};
