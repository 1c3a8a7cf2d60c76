#pragma once

#include "device/AFCClientHandle.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>
#include <pthread.h>

// The socket under each open session of one bridge, reachable from any thread. A library call
// that waits on a silent device holds the bridge's executor for as long as the device stays
// silent (a copy waits for as long as the device holds its writes); shutting the socket down
// from another thread makes that call fail at once, as if the cable had been pulled, so nobody
// has to wait on it.
//
// The executor adds a session's socket once the session is stored and removes it before the
// session's handles are freed, holding the lock each time: a descriptor is never shut down after
// the library closed it and the number may have been reused.
class AFCSessionSockets {
public:
    AFCSessionSockets();

    // The descriptor of the connection an AFC client talks over (also one made from a house_arrest
    // client, which shares its connection); -1 when it cannot be found.
    static int socketOf(afc_client_t afc);

    // fd may be -1 (not found): the session is then known, but cannot be watched or interrupted.
    // Called on the thread that makes the library calls (the executor's): interrupt() wakes that
    // thread from a wait that a shut-down socket alone does not end.
    void add(const QString& key, int fd);
    void remove(const QString& key);

    // Whether a session is registered under key and its connection is still open: a device that
    // went away (or a connection shut down here) shows as a hang-up on the socket even when no
    // call has noticed yet.
    bool isAlive(const QString& key) const { return aliveSession(key).has_value(); }
    // The same, naming the session: each session added gets a number of its own, so a session
    // that replaced another (a device unplugged and back between two looks) is told apart.
    std::optional<quint64> aliveSession(const QString& key) const;
    // Shuts down the connections of the device's sessions (its media area and every app), or of
    // every session when udid is empty. Calls waiting on them return with a lost connection.
    void interrupt(const QString& udid = QString());
    // Shuts down the connection of the one session under key, as interrupt() does, and notes that
    // it was cut here rather than lost: the device is still there to open a new one on. A session
    // still being started under key has its start abandoned instead.
    void cut(const QString& key);
    // Whether the session under key was cut since the last ask; forgets it.
    bool takeCut(const QString& key);

    // A session start in progress under key, whose connection is not known until it ends:
    // abandon is called (under this object's lock, so it must only note it and wake a waiter)
    // when that session is cut or its device's connections are interrupted.
    void addStart(const QString& key, std::function<void()> abandon);
    void removeStart(const QString& key);

private:
    struct Session {
        int fd = -1;
        quint64 serial = 0;
    };

    // Shuts the session's connection down and puts a closed socket in its place; true when there
    // was one to shut. Holding m_mutex.
    static bool shutDown(const Session& session);
    void wakeWorker();

    mutable std::mutex m_mutex;
    QHash<QString, Session> m_sockets;
    QSet<QString> m_cut;
    QHash<QString, std::function<void()>> m_starts;
    quint64 m_lastSerial = 0;
    std::optional<pthread_t> m_worker;
};
