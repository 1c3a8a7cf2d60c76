#pragma once

#include "device/AFCSession.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class AFCSessionSockets;
class LeftoverJournal;

// Told of the session starts that the job in progress makes on its way to its request, so that
// a start can be given the same grace as a request once its caller is cancelled.
class AFCSessionStartWatch {
public:
    virtual void starting(const QString& key) = 0;
    virtual void started() = 0;

protected:
    ~AFCSessionStartWatch() = default;
};

// The open sessions of one bridge, keyed by UDID (media area) or UDID + ":" + bundle identifier
// (an app's container). Lives on the bridge's executor: every member is called from its jobs
// only, so the table needs no lock.
class AFCSessionTable {
public:
    // Each session's socket is entered in sockets while it is open, its send buffer widened for
    // writes of writeBytes (AFCSendRoom); what earlier copies left is read from journal whenever
    // a session opens.
    AFCSessionTable(AFCSessionSockets& sockets, std::shared_ptr<LeftoverJournal> journal,
                    uint32_t writeBytes);
    // Frees nothing: the owner calls closeAll() on the executor thread first.
    ~AFCSessionTable() = default;
    AFCSessionTable(const AFCSessionTable&) = delete;
    AFCSessionTable& operator=(const AFCSessionTable&) = delete;

    static QString key(const QString& udid, const std::optional<QString>& bundleID);

    // The job in progress, told of each start (none between jobs).
    void setStartWatch(AFCSessionStartWatch* watch) { m_startWatch = watch; }

    // Opens the session unless one is open and still connected: a device unplugged and plugged
    // back in between two uses gets a new session instead of the dead one. The start runs on a
    // thread of its own (AFCSessionStart): cutting its key gives it up.
    void connect(const QString& udid);
    // Opens the container and lists its root once: an app that vends a container it cannot
    // list does not share files, and its session is closed again (appNotFileAccessible).
    void connectApp(const QString& udid, const QString& bundleID);
    void disconnectAll(const QString& udid);
    void closeAll();

    // Throws AFCError notConnected(key) when there is no session.
    afc_client_t client(const QString& udid, const std::optional<QString>& bundleID) const;
    // As client(), but a session whose connection this bridge cut (a cancelled request the device
    // held too long) is first opened anew: the work queued behind that request goes on. A session
    // the device lost is not: that is the device going away.
    afc_client_t usableClient(const QString& udid, const std::optional<QString>& bundleID);
    // Closes and forgets the session under key, whose connection an operation found lost, so
    // that the next use of the device opens a new one.
    void dropLost(const QString& key);
    // For a session whose connection fell out of step with a device that is still there (the
    // library gave up waiting for an answer the device still owed): closes it and opens a new one
    // in its line, so that whoever read over it reads on too, and returns its client. nullptr,
    // with nothing done, when the connection is not out of step but gone: closed by the device
    // or cut here. Throws what opening throws.
    afc_client_t reopenOutOfStep(const QString& udid, const std::optional<QString>& bundleID);
    const std::shared_ptr<LeftoverJournal>& journal() const { return m_journal; }

    // Changes whenever the session under key is replaced, so that a holder of a file handle
    // can tell that the client it was opened on is gone; nothing when there is no session.
    std::optional<quint64> generation(const QString& key) const;
    // The same for every session opened in place of one that this bridge cut (and for the one
    // that was cut): a holder of a file handle can open its file again on the new session and
    // go on where it was. A session the device lost, or one closed, starts a new line.
    std::optional<quint64> lineage(const QString& key) const;

private:
    struct Entry {
        AFCSession session;
        quint64 generation = 0;
        quint64 lineage = 0;
    };

    // Runs a start under key, the job in progress told of it.
    AFCSession start(const QString& key, std::function<AFCSession()> open);

    // Whether a session under key is open and connected; a lost one is closed here.
    bool holdsLive(const QString& key);
    void store(const QString& key, AFCSession session);
    void recoverLeftovers(const QString& udid, const std::optional<QString>& bundleID, afc_client_t afc);
    void close(const QString& key);

    AFCSessionSockets& m_sockets;
    std::shared_ptr<LeftoverJournal> m_journal;
    const uint32_t m_writeBytes;
    QHash<QString, Entry> m_sessions;
    // Sessions closed because their connection was cut here, to be opened again on next use.
    QSet<QString> m_reopen;
    // The line of the last session under each key, carried over to one opened after a cut.
    QHash<QString, quint64> m_lineages;
    quint64 m_nextGeneration = 1;
    AFCSessionStartWatch* m_startWatch = nullptr;
};
