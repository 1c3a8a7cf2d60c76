#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// A file system that answers nothing, as a network share whose server went silent: a FUSE mount
// whose server never reads its requests, so that every look inside it (a stat of its root
// included) waits in the kernel. Needs root and /dev/fuse, and no FUSE library; where either is
// missing nothing is mounted and failure() says why, for the test to skip with.
//
// goAway() ends the silence as a server that dies does: the connection is aborted, every look
// that waits fails with ENOTCONN (the threads stuck in them are released), and the mount is
// detached. A watchdog does the same after the longest silence given, so that a program whose
// main thread is stuck in a look fails its test instead of hanging the run; the destructor does
// it too, so no test leaves a hung mount or thread behind, whether it passed or not.
class SilentMount {
public:
    // Mounts below folder (which must exist), at folder + "/share".
    explicit SilentMount(const QString& folder,
                         std::chrono::milliseconds longestSilence = std::chrono::seconds(20));
    ~SilentMount();
    SilentMount(const SilentMount&) = delete;
    SilentMount& operator=(const SilentMount&) = delete;

    bool isMounted() const { return m_fd >= 0; }
    QString failure() const { return m_failure; }
    // The silent file system's root.
    QString path() const { return m_mountPoint; }

    // The server is gone: looks fail at once from now on. Safe to call again.
    void goAway();
    // Whether the watchdog ended the silence (the test took too long, or hung).
    bool watchdogFired() const;

private:
    void watch(std::chrono::milliseconds longestSilence);

    QString m_mountPoint;
    QString m_failure;
    int m_fd = -1;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_gone = false;
    bool m_fired = false;
    std::thread m_watchdog;
};
