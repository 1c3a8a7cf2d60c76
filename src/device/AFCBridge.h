#pragma once

#include "device/AFCFileInfo.h"
#include "device/AFCSessionTable.h"
#include "platform/async/SerialExecutor.h"
#include "platform/async/Task.h"

#include <libimobiledevice/afc.h>

#include <QList>
#include <QString>

#include <memory>
#include <optional>

// Every connection the program holds to an attached device: the AFC sessions of its media area
// and of app containers, and the file operations over them. An actor: all library calls run one
// at a time on its own executor thread, so a
// long copy holds back every other device operation until it ends. The operations are called on
// the main thread and return tasks to await; their errors are AFCError.
//
// Paths are absolute device paths; without a bundle identifier an operation works in the media
// area, with one in that app's container, whose session must have been opened first.
//
// Several bridges may exist, each with its own executor and sessions. Destroying one waits for
// the operation in progress, cancels those still queued, and frees its sessions' handles on its
// executor thread.
class AFCBridge {
public:
    // The most that one device read or write moves.
    static constexpr uint32_t chunkBytes = 0x100000;

    AFCBridge();
    ~AFCBridge();
    AFCBridge(const AFCBridge&) = delete;
    AFCBridge& operator=(const AFCBridge&) = delete;

    // Opens the media session unless one is open.
    async::Task<void> connect(QString udid);
    // Opens the session of an app's container unless one is open. An app whose container root
    // cannot be listed does not share files: appNotFileAccessible, and no session is kept.
    async::Task<void> connectApp(QString udid, QString bundleID);
    // Closes the media session and every app session of the device. Never fails.
    async::Task<void> disconnectAll(QString udid);

    async::Task<QList<AFCFileInfo>> listDirectory(QString udid, QString path,
                                                  std::optional<QString> bundleID);
    async::Task<AFCFileInfo> fileInfo(QString udid, QString path, std::optional<QString> bundleID);
    // The AFC client of the session: a check that the session is open. The handle itself may be
    // used only inside this bridge's jobs. Fails with notConnected(key).
    async::Task<afc_client_t> afcClient(QString udid, std::optional<QString> bundleID);

private:
    // Queues fn(sessions) on the executor.
    template <typename F> auto perform(F fn) {
        AFCSessionTable* sessions = &m_sessions;
        auto job = [sessions, fn = std::move(fn)]() mutable {
            return fn(*sessions);
        };
        return m_executor->run(std::move(job));
    }

    // Touched only by jobs on the executor.
    AFCSessionTable m_sessions;
    std::unique_ptr<async::SerialExecutor> m_executor;
};
