#include "device/AFCBridge.h"

#include "device/AFCDirectoryReader.h"

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

async::Task<afc_client_t> AFCBridge::afcClient(QString udid, std::optional<QString> bundleID) {
    return perform([udid, bundleID](AFCSessionTable& sessions) { return sessions.client(udid, bundleID); });
}
