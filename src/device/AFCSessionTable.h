#pragma once

#include "device/AFCSession.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// The open sessions of one bridge, keyed by UDID (media area) or UDID + ":" + bundle identifier
// (an app's container). Lives on the bridge's executor: every member is called from its jobs
// only, so the table needs no lock.
class AFCSessionTable {
public:
    AFCSessionTable() = default;
    // Frees nothing: the owner calls closeAll() on the executor thread first.
    ~AFCSessionTable() = default;
    AFCSessionTable(const AFCSessionTable&) = delete;
    AFCSessionTable& operator=(const AFCSessionTable&) = delete;

    static QString key(const QString& udid, const std::optional<QString>& bundleID);

    void connect(const QString& udid);
    // Opens the container and lists its root once: an app that vends a container it cannot
    // list does not share files, and its session is closed again (appNotFileAccessible).
    void connectApp(const QString& udid, const QString& bundleID);
    void disconnectAll(const QString& udid);
    void closeAll();

    // Throws AFCError notConnected(key) when there is no session.
    afc_client_t client(const QString& udid, const std::optional<QString>& bundleID) const;
    // A partial upload that could not be removed because the device went away: removed as soon
    // as a session under the same key opens again, so no hidden leftover stays on the device.
    void rememberOrphans(const QString& key, const QStringList& paths);

    // Changes whenever the session under key is replaced, so that a holder of a file handle
    // can tell that the client it was opened on is gone; nothing when there is no session.
    std::optional<quint64> generation(const QString& key) const;

private:
    struct Entry {
        AFCSession session;
        quint64 generation = 0;
    };

    void store(const QString& key, AFCSession session);
    void removeOrphans(const QString& key, afc_client_t afc);
    void close(const QString& key);

    QHash<QString, Entry> m_sessions;
    QHash<QString, QStringList> m_orphans;
    quint64 m_nextGeneration = 1;
};
