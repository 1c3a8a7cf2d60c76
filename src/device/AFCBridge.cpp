#include "device/AFCBridge.h"

#include "device/AFCAppLister.h"
#include "device/AFCDirectoryReader.h"
#include "device/AFCFileReader.h"
#include "device/AFCItemOperations.h"
#include "device/AFCStreamSource.h"
#include "platform/async/MainThread.h"

#include <future>

AFCBridge::AFCBridge() : m_executor(std::make_unique<async::SerialExecutor>(QStringLiteral("AFCBridge"))) {}

AFCBridge::~AFCBridge() {
    // Handles are freed where they are used: on the executor, after the job in progress.
    std::promise<void> closed;
    std::future<void> done = closed.get_future();
    m_executor->post([this, &closed] {
        m_sessions.closeAll();
        closed.set_value();
    });
    done.wait();
    m_executor.reset();
}

async::Task<void> AFCBridge::connect(QString udid) {
    return perform([udid](AFCSessionTable& sessions) { sessions.connect(udid); });
}

async::Task<void> AFCBridge::connectApp(QString udid, QString bundleID) {
    return perform([udid, bundleID](AFCSessionTable& sessions) { sessions.connectApp(udid, bundleID); });
}

async::Task<void> AFCBridge::disconnectAll(QString udid) {
    return perform([udid](AFCSessionTable& sessions) { sessions.disconnectAll(udid); });
}

async::Task<QList<AFCFileInfo>> AFCBridge::listDirectory(QString udid, QString path,
                                                         std::optional<QString> bundleID) {
    return perform([udid, path, bundleID](AFCSessionTable& sessions) {
        return AFCDirectoryReader::listDirectory(sessions.client(udid, bundleID), path);
    });
}

async::Task<AFCFileInfo> AFCBridge::fileInfo(QString udid, QString path, std::optional<QString> bundleID) {
    return perform([udid, path, bundleID](AFCSessionTable& sessions) {
        return AFCDirectoryReader::fileInfo(sessions.client(udid, bundleID), path);
    });
}

AFCReadStream AFCBridge::readStream(QString udid, QString path, std::optional<QString> bundleID) {
    return AFCReadStream::open(*this, std::make_shared<AFCStreamSource>(std::move(udid), std::move(path),
                                                                        std::move(bundleID), chunkBytes));
}

async::Task<QByteArray> AFCBridge::readFile(QString udid, QString path, uint32_t maxBytes,
                                            std::optional<QString> bundleID) {
    return perform([udid, path, maxBytes, bundleID](AFCSessionTable& sessions) {
        return AFCFileReader::readFile(sessions.client(udid, bundleID), path, maxBytes, chunkBytes);
    });
}

async::Task<quint64> AFCBridge::download(QString udid, QString path, URL to, std::optional<QString> bundleID,
                                         AFCDownload::Progress progress, std::stop_token token) {
    return perform([udid, path, local = to.toLocalFile(), bundleID, progress,
                    token](AFCSessionTable& sessions) {
        return AFCDownload::run(sessions.client(udid, bundleID), path, local, chunkBytes, progress, token);
    });
}

async::Task<void> AFCBridge::removeItem(QString udid, QString path, std::optional<QString> bundleID) {
    return perform([udid, path, bundleID](AFCSessionTable& sessions) {
        AFCItemOperations::removeItem(sessions.client(udid, bundleID), path);
    });
}

async::Task<void> AFCBridge::renameItem(QString udid, QString from, QString to,
                                        std::optional<QString> bundleID) {
    return perform([udid, from, to, bundleID](AFCSessionTable& sessions) {
        AFCItemOperations::renameItem(sessions.client(udid, bundleID), from, to);
    });
}

async::Task<void> AFCBridge::removeRecursively(QString udid, QString path, std::optional<QString> bundleID) {
    return perform([udid, path, bundleID](AFCSessionTable& sessions) {
        AFCItemOperations::removeRecursively(sessions.client(udid, bundleID), path);
    });
}

async::Task<void> AFCBridge::makeDirectory(QString udid, QString path, std::optional<QString> bundleID) {
    return perform([udid, path, bundleID](AFCSessionTable& sessions) {
        AFCItemOperations::makeDirectory(sessions.client(udid, bundleID), path);
    });
}

async::Task<quint64> AFCBridge::uploadFile(QString udid, QString path, URL from,
                                           std::optional<QString> bundleID, AFCUpload::Progress progress,
                                           std::stop_token token) {
    return perform(
        [udid, path, local = from.toLocalFile(), bundleID, progress, token](AFCSessionTable& sessions) {
            return AFCUpload::run(sessions.client(udid, bundleID), path, local, chunkBytes, progress, token);
        });
}

async::Task<afc_client_t> AFCBridge::afcClient(QString udid, std::optional<QString> bundleID) {
    return perform([udid, bundleID](AFCSessionTable& sessions) { return sessions.client(udid, bundleID); });
}

async::Task<quint64> AFCBridge::downloadFile(QString udid, QString path, URL to,
                                             std::optional<QString> bundleID, AFCDownload::Progress progress,
                                             std::stop_token token) {
    AFCDownload::Progress onMain;
    if (progress) {
        onMain = [progress](quint64 bytes) {
            async::postToMain([progress, bytes] { progress(bytes); });
        };
    }
    return download(std::move(udid), std::move(path), std::move(to), std::move(bundleID), std::move(onMain),
                    std::move(token));
}

async::Task<QList<AppInfo>> AFCBridge::listApps(QString udid) {
    return perform([udid](AFCSessionTable&) { return AFCAppLister::listApps(udid); });
}
