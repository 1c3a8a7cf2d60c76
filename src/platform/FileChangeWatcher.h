#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <thread>

// Watches one file for being written or replaced, by this process or another, and calls back on
// a thread of its own, so that it needs no event loop of whoever made it. It watches the file's
// folder rather than the file: a file replaced by a rename is a new file, which a watch on the
// old one would never report, so the watch holds across every replacement. The folder is made
// when it is missing. Several events in a row may give several calls, and a call may come for a
// write that changed nothing: the owner reads the file again and sees.
class FileChangeWatcher {
public:
    FileChangeWatcher(const QString& filePath, std::function<void()> onChange);
    // Returns once the thread has ended; no call comes after that.
    ~FileChangeWatcher();
    FileChangeWatcher(const FileChangeWatcher&) = delete;
    FileChangeWatcher& operator=(const FileChangeWatcher&) = delete;

    // False when the system gave no watch (it was logged): changes are then not reported.
    bool isWatching() const { return m_thread.joinable(); }

private:
    void run();

    const QByteArray m_fileName;
    const std::function<void()> m_onChange;
    int m_inotify = -1;
    int m_stop = -1; // an eventfd that ends the thread
    std::thread m_thread;
};
