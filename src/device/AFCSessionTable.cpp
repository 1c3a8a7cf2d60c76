#include "device/AFCSessionTable.h"

#include "device/AFCDirectoryReader.h"
#include "device/AFCError.h"
#include "device/AFCSessionOpener.h"
#include "platform/Logger.h"

#include <QStringList>

QString AFCSessionTable::key(const QString& udid, const std::optional<QString>& bundleID) {
    return bundleID ? udid + QLatin1Char(':') + *bundleID : udid;
}

void AFCSessionTable::connect(const QString& udid) {
    if (m_sessions.contains(udid)) {
        Logger::bridge().debug("AFC already connected for %s", udid);
        return;
    }
    store(udid, AFCSessionOpener::openMedia(udid));
    Logger::bridge().info("AFC connected for %s", udid);
    removeOrphans(udid, m_sessions.value(udid).session.afc);
}

void AFCSessionTable::connectApp(const QString& udid, const QString& bundleID) {
    const QString sessionKey = key(udid, bundleID);
    if (m_sessions.contains(sessionKey))
        return;
    AFCSession session = AFCSessionOpener::openApp(udid, bundleID);
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
    removeOrphans(sessionKey, afc);
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
    Logger::bridge().info("AFC all sessions disconnected for %s", udid);
}

void AFCSessionTable::closeAll() {
    const QStringList keys = m_sessions.keys();
    for (const QString& sessionKey : keys)
        close(sessionKey);
}

afc_client_t AFCSessionTable::client(const QString& udid, const std::optional<QString>& bundleID) const {
    const QString sessionKey = key(udid, bundleID);
    auto it = m_sessions.constFind(sessionKey);
    if (it == m_sessions.cend() || !it->session.afc)
        throw AFCError::notConnected(sessionKey);
    return it->session.afc;
}

std::optional<quint64> AFCSessionTable::generation(const QString& sessionKey) const {
    auto it = m_sessions.constFind(sessionKey);
    if (it == m_sessions.cend())
        return std::nullopt;
    return it->generation;
}

void AFCSessionTable::rememberOrphans(const QString& sessionKey, const QStringList& paths) {
    if (!paths.isEmpty())
        m_orphans[sessionKey].append(paths);
}

void AFCSessionTable::removeOrphans(const QString& sessionKey, afc_client_t afc) {
    const QStringList paths = m_orphans.take(sessionKey);
    for (const QString& path : paths) {
        const afc_error_t result = afc_remove_path(afc, path.toUtf8().constData());
        if (result == AFC_E_SUCCESS || result == AFC_E_OBJECT_NOT_FOUND)
            Logger::bridge().info("Removed partial upload left by a lost connection: %s", path);
        else
            Logger::bridge().error("Could not remove partial upload %s: afc_remove_path error %d", path,
                                   static_cast<int>(result));
    }
}

void AFCSessionTable::store(const QString& sessionKey, AFCSession session) {
    m_sessions.insert(sessionKey, Entry{session, m_nextGeneration++});
}

void AFCSessionTable::close(const QString& sessionKey) {
    auto it = m_sessions.find(sessionKey);
    if (it == m_sessions.end())
        return;
    AFCSession session = it->session;
    m_sessions.erase(it);
    session.release();
}
