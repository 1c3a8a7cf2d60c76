#include "device/AFCBridge.h"

#include "device/AFCAppLister.h"
#include "device/AFCBridgeCore.h"
#include "device/AFCDirectoryReader.h"
#include "device/AFCDownload.h"
#include "device/AFCError.h"
#include "device/AFCFileReader.h"
#include "device/AFCItemOperations.h"
#include "device/AFCLeftovers.h"
#include "device/AFCPath.h"
#include "device/AFCStreamSource.h"
#include "device/AFCUpload.h"
#include "platform/async/Cancellation.h"
#include "platform/async/MainThread.h"

#include <initializer_list>

namespace {

using Job = AFCBridgeCore::Job;

QString shown(QString text) {
    return text.replace(QChar(u'\0'), QStringLiteral("%00"));
}

// Refuses, with the operation's own error, any text that a library call would cut at a NUL.
void requireUsable(AFCError::Case errorCase, std::initializer_list<const QString*> texts,
                   const std::optional<QString>& bundleID = std::nullopt) {
    for (const QString* text : texts) {
        if (!AFCPath::isUsable(*text))
            throw AFCError(errorCase, QStringLiteral("NUL character in ") + shown(*text));
    }
    if (bundleID && !AFCPath::isUsable(*bundleID))
        throw AFCError(errorCase, QStringLiteral("NUL character in ") + shown(*bundleID));
}

// Runs fn with the session's AFC client. A failure that means the connection is gone closes the
// session too, so that the next use of the device opens a new one instead of failing on the
// dead one until the device is unplugged for good.
// A copy whose caller cancelled it while its connection was being cut (quitting during a copy
// that hangs) ends as cancelled: its caller asked for it to stop, not for it to fail.
template <typename F>
auto onSession(Job& job, const QString& udid, const std::optional<QString>& bundleID, F fn,
               std::stop_token cancelled = {}) {
    const afc_client_t afc = job.sessions.usableClient(udid, bundleID);
    // Only now does the device get the request: a session opened anew may have taken a while.
    job.watch.sent(AFCSessionTable::key(udid, bundleID));
    try {
        return fn(afc);
    } catch (const AFCError& error) {
        if (!error.isConnectionLost())
            throw;
        job.sessions.dropLost(AFCSessionTable::key(udid, bundleID));
        if (cancelled.stop_requested())
            throw async::CancelledError{};
        throw;
    }
}

} // namespace

AFCBridge::AFCBridge(std::shared_ptr<LeftoverJournal> journal)
    : m_core(std::make_shared<AFCBridgeCore>(chunkBytes,
                                             journal ? std::move(journal) : LeftoverJournal::shared())) {
    AFCBridgeCore::noteMade(m_core);
}

AFCBridge::AFCBridge(std::shared_ptr<AFCBridgeCore> core, std::stop_token owner, UiTimerSource& timers)
    : m_core(std::move(core)), m_owner(std::move(owner)), m_ownerTimers(&timers) {}

AFCBridge::~AFCBridge() {
    // A view leaves the bridge it looks at to that bridge's owner.
    if (!m_ownerTimers)
        AFCBridgeCore::shutdown(std::move(m_core));
}

std::shared_ptr<AFCBridge> AFCBridge::forRequestsOf(std::stop_token owner, UiTimerSource& timers) const {
    return std::shared_ptr<AFCBridge>(new AFCBridge(m_core, std::move(owner), timers));
}

AFCRequest AFCBridge::request(bool droppable, std::stop_token cancel) const {
    AFCRequest made;
    made.cancel = std::move(cancel);
    made.owner = m_owner;
    made.ownerTimers = m_ownerTimers;
    made.droppable = droppable;
    return made;
}

bool AFCBridge::waitForRetiredBridges(std::chrono::milliseconds limit) {
    return AFCBridgeCore::waitForRetiredCores(limit);
}

bool AFCBridge::isConnected(const QString& udid, const std::optional<QString>& bundleID) const {
    return connectedSession(udid, bundleID).has_value();
}

std::optional<quint64> AFCBridge::connectedSession(const QString& udid,
                                                   const std::optional<QString>& bundleID) const {
    return m_core->sockets().aliveSession(AFCSessionTable::key(udid, bundleID));
}

void AFCBridge::interrupt(const QString& udid) {
    m_core->sockets().interrupt(udid);
}

async::Task<void> AFCBridge::connect(QString udid) {
    return m_core->perform(
        [udid](Job& job) {
            requireUsable(AFCError::Case::connectionFailed, {&udid});
            job.sessions.connect(udid);
        },
        request(true));
}

async::Task<void> AFCBridge::connectApp(QString udid, QString bundleID) {
    return m_core->perform(
        [udid, bundleID](Job& job) {
            requireUsable(AFCError::Case::connectionFailed, {&udid, &bundleID});
            job.sessions.connectApp(udid, bundleID);
        },
        request(true));
}

async::Task<void> AFCBridge::disconnectAll(QString udid) {
    return m_core->perform([udid](Job& job) { job.sessions.disconnectAll(udid); }, request(false));
}

async::Task<QList<AFCFileInfo>> AFCBridge::listDirectory(QString udid, QString path,
                                                         std::optional<QString> bundleID) {
    return m_core->perform(
        [udid, path, bundleID](Job& job) {
            requireUsable(AFCError::Case::directoryListFailed, {&path}, bundleID);
            return onSession(job, udid, bundleID, [&](afc_client_t afc) {
                return AFCDirectoryReader::listDirectory(afc, path, job.stop).entries;
            });
        },
        request(true));
}

async::Task<AFCDirectoryListing> AFCBridge::listDirectoryDetailed(QString udid, QString path,
                                                                  std::optional<QString> bundleID) {
    return m_core->perform(
        [udid, path, bundleID](Job& job) {
            requireUsable(AFCError::Case::directoryListFailed, {&path}, bundleID);
            return onSession(job, udid, bundleID, [&](afc_client_t afc) {
                return AFCDirectoryReader::listDirectory(afc, path, job.stop);
            });
        },
        request(true));
}

async::Task<AFCFileInfo> AFCBridge::fileInfo(QString udid, QString path, std::optional<QString> bundleID) {
    return m_core->perform(
        [udid, path, bundleID](Job& job) {
            requireUsable(AFCError::Case::fileInfoFailed, {&path}, bundleID);
            return onSession(job, udid, bundleID,
                             [&](afc_client_t afc) { return AFCDirectoryReader::fileInfo(afc, path); });
        },
        request(true));
}

AFCReadStream AFCBridge::readStream(QString udid, QString path, std::optional<QString> bundleID) {
    return AFCReadStream::open(m_core, std::make_shared<AFCStreamSource>(std::move(udid), std::move(path),
                                                                         std::move(bundleID), chunkBytes,
                                                                         request(false)));
}

async::Task<QByteArray> AFCBridge::readFile(QString udid, QString path, uint32_t maxBytes,
                                            std::optional<QString> bundleID) {
    return m_core->perform(
        [udid, path, maxBytes, bundleID](Job& job) {
            requireUsable(AFCError::Case::fileOpenFailed, {&path}, bundleID);
            return onSession(job, udid, bundleID, [&](afc_client_t afc) {
                return AFCFileReader::readFile(afc, path, maxBytes, chunkBytes, job.stop);
            });
        },
        request(true));
}

async::Task<quint64> AFCBridge::download(QString udid, QString path, URL to, std::optional<QString> bundleID,
                                         AFCDownloadProgress progress, std::stop_token token,
                                         AFCCopyOptions options) {
    return m_core->perform(
        [udid, path, local = to.toLocalFile(), bundleID, progress, token, options](Job& job) {
            requireUsable(AFCError::Case::fileReadFailed, {&path, &local}, bundleID);
            const async::EitherStop stop(job.stop, token);
            return onSession(
                job, udid, bundleID,
                [&](afc_client_t afc) {
                    return AFCDownload::run(afc, path, local, job.writer, chunkBytes, progress, stop.token(),
                                            options,
                                            options.recordPartial ? job.sessions.journal().get() : nullptr);
                },
                stop.token());
        },
        request(true, token));
}

async::Task<void> AFCBridge::removeItem(QString udid, QString path, std::optional<QString> bundleID) {
    return m_core->perform(
        [udid, path, bundleID](Job& job) {
            requireUsable(AFCError::Case::deleteFailed, {&path}, bundleID);
            onSession(job, udid, bundleID,
                      [&](afc_client_t afc) { AFCItemOperations::removeItem(afc, path); });
        },
        request(false));
}

async::Task<std::optional<QString>>
AFCBridge::removeFileUnless(QString udid, QString path, std::optional<QString> bundleID,
                            std::function<std::optional<QString>(const AFCFileInfo&)> objection) {
    return m_core->perform(
        [udid, path, bundleID, objection](Job& job) {
            requireUsable(AFCError::Case::deleteFailed, {&path}, bundleID);
            return onSession(job, udid, bundleID, [&](afc_client_t afc) -> std::optional<QString> {
                std::optional<QString> reason = objection(AFCDirectoryReader::fileInfo(afc, path));
                if (!reason)
                    AFCItemOperations::removeItem(afc, path);
                return reason;
            });
        },
        // Dropped when its transfer is cancelled before the device has it: a removal that waits
        // on the look before it is no clean-up the cancel counts on.
        request(true));
}

async::Task<void> AFCBridge::renameItem(QString udid, QString from, QString to,
                                        std::optional<QString> bundleID) {
    return m_core->perform(
        [udid, from, to, bundleID](Job& job) {
            requireUsable(AFCError::Case::renameFailed, {&from, &to}, bundleID);
            onSession(job, udid, bundleID,
                      [&](afc_client_t afc) { AFCItemOperations::renameItem(afc, from, to); });
        },
        request(false));
}

async::Task<AFCPutBack> AFCBridge::putBack(QString udid, QString from, QString to,
                                           std::optional<QString> bundleID) {
    return m_core->perform(
        [udid, from, to, bundleID](Job& job) {
            requireUsable(AFCError::Case::renameFailed, {&from, &to}, bundleID);
            return onSession(job, udid, bundleID,
                             [&](afc_client_t afc) { return AFCItemOperations::putBack(afc, from, to); });
        },
        request(false));
}

async::Task<void> AFCBridge::removeRecursively(QString udid, QString path, std::optional<QString> bundleID) {
    return m_core->perform(
        [udid, path, bundleID](Job& job) {
            requireUsable(AFCError::Case::deleteFailed, {&path}, bundleID);
            onSession(job, udid, bundleID,
                      [&](afc_client_t afc) { AFCItemOperations::removeRecursively(afc, path, job.stop); });
        },
        request(false));
}

async::Task<void> AFCBridge::removeTree(QString udid, QString path, std::optional<QString> bundleID) {
    return m_core->perform(
        [udid, path, bundleID](Job& job) {
            requireUsable(AFCError::Case::deleteFailed, {&path}, bundleID);
            onSession(job, udid, bundleID,
                      [&](afc_client_t afc) { AFCItemOperations::removeTree(afc, path); });
        },
        request(false));
}

async::Task<void> AFCBridge::makeDirectory(QString udid, QString path, std::optional<QString> bundleID) {
    return m_core->perform(
        [udid, path, bundleID](Job& job) {
            requireUsable(AFCError::Case::makeDirectoryFailed, {&path}, bundleID);
            onSession(job, udid, bundleID,
                      [&](afc_client_t afc) { AFCItemOperations::makeDirectory(afc, path); });
        },
        request(false));
}

async::Task<bool> AFCBridge::settleLeftover(LeftoverJournal::Entry entry) {
    return m_core->perform(
        [entry](Job& job) {
            const std::optional<QString> bundleID =
                entry.bundleID.isEmpty() ? std::nullopt : std::optional<QString>(entry.bundleID);
            requireUsable(AFCError::Case::deleteFailed, {&entry.udid}, bundleID);
            const AFCLeftovers leftovers(job.sessions.journal(), entry.udid, bundleID);
            return onSession(job, entry.udid, bundleID,
                             [&](afc_client_t afc) { return leftovers.settle(afc, entry); });
        },
        request(false));
}

async::Task<quint64> AFCBridge::uploadFile(QString udid, QString path, URL from,
                                           std::optional<QString> bundleID, AFCUploadProgress progress,
                                           std::stop_token token, AFCCopyOptions options) {
    return m_core->perform(
        [udid, path, local = from.toLocalFile(), bundleID, progress, token, options](Job& job) {
            requireUsable(AFCError::Case::writeFailed, {&path, &local}, bundleID);
            const async::EitherStop stop(job.stop, token);
            const AFCLeftovers leftovers(job.sessions.journal(), udid, bundleID);
            // A device that held a write longer than the library waits for its answer is still
            // there: the copy goes on over a new session. One that is cancelled does not.
            const AFCUpload::Reconnect reconnect = [&]() -> afc_client_t {
                if (stop.token().stop_requested())
                    return nullptr;
                return job.sessions.reopenOutOfStep(udid, bundleID);
            };
            return onSession(
                job, udid, bundleID,
                [&](afc_client_t afc) {
                    return AFCUpload::run(afc, path, local, job.reader, chunkBytes, progress, leftovers,
                                          stop.token(), options, reconnect);
                },
                stop.token());
        },
        request(true, token));
}

async::Task<afc_client_t> AFCBridge::afcClient(QString udid, std::optional<QString> bundleID) {
    return m_core->perform([udid, bundleID](Job& job) { return job.sessions.client(udid, bundleID); },
                           request(true));
}

async::Task<quint64> AFCBridge::downloadFile(QString udid, QString path, URL to,
                                             std::optional<QString> bundleID, AFCDownloadProgress progress,
                                             std::stop_token token) {
    AFCDownloadProgress onMain;
    if (progress) {
        onMain = [progress](quint64 bytes) {
            async::postToMain([progress, bytes] { progress(bytes); });
        };
    }
    return download(std::move(udid), std::move(path), std::move(to), std::move(bundleID), std::move(onMain),
                    std::move(token));
}

async::Task<QList<AppInfo>> AFCBridge::listApps(QString udid) {
    return m_core->perform(
        [udid](Job&) {
            requireUsable(AFCError::Case::connectionFailed, {&udid});
            return AFCAppLister::listApps(udid);
        },
        request(true));
}
