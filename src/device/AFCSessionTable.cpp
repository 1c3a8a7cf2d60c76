#include "device/AFCSessionTable.h"

#include "device/AFCDirectoryReader.h"
#include "device/AFCError.h"
#include "device/AFCLeftovers.h"
#include "device/AFCSendRoom.h"
#include "device/AFCSessionOpener.h"
#include "device/AFCSessionSockets.h"
#include "device/AFCSessionStart.h"
#include "platform/Logger.h"

#include <QStringList>

namespace {

// Tells the job's watch that a start runs for as long as this lives.
class StartWatched {
public:
    StartWatched(AFCSessionStartWatch* watch, const QString& key) : m_watch(watch) {
        if (m_watch)
            m_watch->starting(key);
    }
    ~StartWatched() {
        if (m_watch)
            m_watch->started();
    }
    StartWatched(const StartWatched&) = delete;
    StartWatched& operator=(const StartWatched&) = delete;

private:
    AFCSessionStartWatch* m_watch;
};

} // namespace

AFCSessionTable::AFCSessionTable(AFCSessionSockets& sockets, std::shared_ptr<LeftoverJournal> journal,
                                 uint32_t writeBytes)
    : m_sockets(sockets), m_journal(std::move(journal)), m_writeBytes(writeBytes) {}

QString AFCSessionTable::key(const QString& udid, const std::optional<QString>& bundleID) {
    return bundleID ? udid + QLatin1Char(':') + *bundleID : udid;
}

void AFCSessionTable::connect(const QString& udid) {
    if (holdsLive(udid)) {
        Logger::bridge().debug("AFC already connected for %s", udid);
        return;
    }
    const StartWatched watched(m_startWatch, udid);
    store(udid, start(udid, [udid] { return AFCSessionOpener::openMedia(udid); }));
    Logger::bridge().info("AFC connected for %s", udid);
    recoverLeftovers(udid, std::nullopt, m_sessions.value(udid).session.afc);
}

void AFCSessionTable::connectApp(const QString& udid, const QString& bundleID) {
    const QString sessionKey = key(udid, bundleID);
    if (holdsLive(sessionKey))
        return;
    // The container's first listing and the clean-up are part of the start.
    const StartWatched watched(m_startWatch, sessionKey);
    AFCSession session =
        start(sessionKey, [udid, bundleID] { return AFCSessionOpener::openApp(udid, bundleID); });
    const afc_client_t afc = session.afc;
    store(sessionKey, session);
    Logger::bridge().info("AFC app-scoped connected for %s on %s", bundleID, udid);

    QList<AFCFileInfo> root;
    try {
        root = AFCDirectoryReader::listDirectory(afc, QStringLiteral("/")).entries;
    } catch (const AFCError& error) {
        Logger::bridge().error("Container not accessible for %s, cleaning up session", bundleID);
        close(sessionKey);
        // A device that went away says nothing about whether the app shares its files.
        if (error.isConnectionLost())
            throw;
        throw AFCError::appNotFileAccessible(bundleID);
    }
    QStringList names;
    for (const AFCFileInfo& entry : root)
        names.append(QLatin1Char('"') + entry.value(QStringLiteral("Name")) + QLatin1Char('"'));
    Logger::bridge().debug("App container root for %s: %s", bundleID,
                           QLatin1Char('[') + names.join(QStringLiteral(", ")) + QLatin1Char(']'));
    recoverLeftovers(udid, bundleID, afc);
}

void AFCSessionTable::disconnectAll(const QString& udid) {
    const QString appPrefix = udid + QLatin1Char(':');
    QStringList keys;
    for (auto it = m_sessions.cbegin(); it != m_sessions.cend(); ++it) {
        if (it.key() == udid || it.key().startsWith(appPrefix))
            keys.append(it.key());
    }
    for (const QString& sessionKey : keys)
        close(sessionKey);
    m_reopen.removeIf(
        [&](const QString& sessionKey) { return sessionKey == udid || sessionKey.startsWith(appPrefix); });
    Logger::bridge().info("AFC all sessions disconnected for %s", udid);
}

void AFCSessionTable::closeAll() {
    const QStringList keys = m_sessions.keys();
    for (const QString& sessionKey : keys)
        close(sessionKey);
    m_reopen.clear();
}

afc_client_t AFCSessionTable::client(const QString& udid, const std::optional<QString>& bundleID) const {
    const QString sessionKey = key(udid, bundleID);
    auto it = m_sessions.constFind(sessionKey);
    if (it == m_sessions.cend() || !it->session.afc)
        throw AFCError::notConnected(sessionKey);
    return it->session.afc;
}

afc_client_t AFCSessionTable::usableClient(const QString& udid, const std::optional<QString>& bundleID) {
    const QString sessionKey = key(udid, bundleID);
    // Cut while the job that was cut had already ended: no call has found it dead yet.
    if (m_sockets.takeCut(sessionKey) && m_sessions.contains(sessionKey)) {
        close(sessionKey);
        m_reopen.insert(sessionKey);
    }
    if (m_reopen.contains(sessionKey) && !m_sessions.contains(sessionKey)) {
        Logger::bridge().info("Opening a new session for %s after its connection was cut", sessionKey);
        try {
            if (bundleID)
                connectApp(udid, *bundleID);
            else
                connect(udid);
        } catch (...) {
            // A start cut for its own caller's cancel leaves the device there: the next use of
            // it opens again.
            if (!m_sockets.takeCut(sessionKey))
                m_reopen.remove(sessionKey);
            throw;
        }
    }
    return client(udid, bundleID);
}

std::optional<quint64> AFCSessionTable::generation(const QString& sessionKey) const {
    auto it = m_sessions.constFind(sessionKey);
    if (it == m_sessions.cend())
        return std::nullopt;
    return it->generation;
}

std::optional<quint64> AFCSessionTable::lineage(const QString& sessionKey) const {
    auto it = m_sessions.constFind(sessionKey);
    if (it == m_sessions.cend())
        return std::nullopt;
    return it->lineage;
}

AFCSession AFCSessionTable::start(const QString& sessionKey, std::function<AFCSession()> open) {
    return AFCSessionStart::run(m_sockets, sessionKey, std::move(open));
}

void AFCSessionTable::dropLost(const QString& sessionKey) {
    if (!m_sessions.contains(sessionKey))
        return;
    Logger::bridge().info("AFC connection lost for %s", sessionKey);
    if (m_sockets.takeCut(sessionKey))
        m_reopen.insert(sessionKey);
    close(sessionKey);
}

afc_client_t AFCSessionTable::reopenOutOfStep(const QString& udid, const std::optional<QString>& bundleID) {
    const QString sessionKey = key(udid, bundleID);
    // A cut connection shows as closed too.
    if (!m_sessions.contains(sessionKey) || !m_sockets.isAlive(sessionKey))
        return nullptr;
    Logger::bridge().info("The connection for %s is out of step with the device; opening a new session",
                          sessionKey);
    close(sessionKey);
    m_reopen.insert(sessionKey);
    return usableClient(udid, bundleID);
}

bool AFCSessionTable::holdsLive(const QString& sessionKey) {
    if (!m_sessions.contains(sessionKey))
        return false;
    if (m_sockets.isAlive(sessionKey))
        return true;
    dropLost(sessionKey);
    return false;
}

void AFCSessionTable::recoverLeftovers(const QString& udid, const std::optional<QString>& bundleID,
                                       afc_client_t afc) {
    if (m_journal)
        AFCLeftovers(m_journal, udid, bundleID).recover(afc);
}

void AFCSessionTable::store(const QString& sessionKey, AFCSession session) {
    const quint64 generation = m_nextGeneration++;
    const quint64 lineage =
        m_reopen.contains(sessionKey) ? m_lineages.value(sessionKey, generation) : generation;
    m_lineages.insert(sessionKey, lineage);
    m_sessions.insert(sessionKey, Entry{session, generation, lineage});
    m_reopen.remove(sessionKey);
    const int fd = AFCSessionSockets::socketOf(session.afc);
    AFCSendRoom::widen(fd, m_writeBytes);
    m_sockets.add(sessionKey, fd);
}

void AFCSessionTable::close(const QString& sessionKey) {
    auto it = m_sessions.find(sessionKey);
    if (it == m_sessions.end())
        return;
    AFCSession session = it->session;
    m_sessions.erase(it);
    // Before the handles go: the socket's number may be reused as soon as they are freed.
    m_sockets.remove(sessionKey);
    session.release();
}
