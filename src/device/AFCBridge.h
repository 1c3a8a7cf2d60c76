#pragma once

#include "device/AFCClientHandle.h"
#include "device/AFCCopyOptions.h"
#include "device/AFCDirectoryListing.h"
#include "device/AFCFileInfo.h"
#include "device/AFCProgress.h"
#include "device/AFCPutBack.h"
#include "device/AFCReadStream.h"
#include "device/AFCRequest.h"
#include "device/LeftoverJournal.h"
#include "models/AppInfo.h"
#include "platform/URL.h"
#include "platform/async/Task.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class AFCBridgeCore;
class UiTimerSource;

// Every connection the program holds to an attached device: the AFC sessions of its media area
// and of app containers, and the file operations over them. An actor: all library calls, and the
// local reads and writes of device copies, run one at a time on its own executor thread, so a
// long copy holds back every other device operation until it ends. The operations are called on
// the main thread and return tasks to await; their errors are AFCError.
//
// Paths are absolute device paths; without a bundle identifier an operation works in the media
// area, with one in that app's container, whose session must have been opened first. A path,
// identifier or local file with a NUL in it is refused before any library call, which would
// read it only up to the NUL.
//
// A device that goes away mid-operation fails the operation as a whole, whatever it had gathered
// (AFCError::isConnectionLost()); nothing is returned short as if it were complete.
//
// A session whose connection is lost (the device was unplugged, even if plugged back in at once)
// is closed as soon as an operation or an open finds it so; the next connect() opens a new one.
// Partial uploads are written down in a journal in the data folder before they are made, and a
// session that opens removes what earlier copies left in its place, also after a restart.
//
// Several bridges may exist, each with its own executor and sessions. Destroying one stops the
// operation in progress at its next chunk or entry, cancels the queued ones, then frees its
// sessions' handles on its executor thread. The destroying thread waits for that only a moment:
// an operation still running is seen out by a thread of its own, which shuts the connections
// down when the operation waits on a silent device, so that it ends within a second whatever the
// device does. waitForRetiredBridges() lets the end of a process wait for them.
class AFCBridge {
public:
    // The most that one device read or write moves.
    static constexpr uint32_t chunkBytes = 0x100000;
    // How long the device may hold a request whose caller cancelled it, counted from when the
    // device got it, before that request's connection is cut: a moment for one moving on to see
    // the cancel at its next chunk.
    static constexpr std::chrono::milliseconds cancelGrace{250};

    // Waits until every destroyed bridge has freed its sessions, at most limit; whether they have.
    // For the end of a process: a bridge still held then (by a task that did not end in time) is
    // stopped first as a destroyed one is, its connections cut at once, so that no job of it runs
    // on past the application.
    static bool waitForRetiredBridges(std::chrono::milliseconds limit = std::chrono::seconds(2));

    // Copies write what they leave down in journal; the process's shared one when empty.
    explicit AFCBridge(std::shared_ptr<LeftoverJournal> journal = {});
    // The same bridge (its sessions and its one request at a time), for the requests of one
    // transfer: each request made through the view is that transfer's own. Once owner is
    // stopped, a request of it not yet sent to the device is dropped unless it changes the device
    // (a clean-up the cancel may count on), and one the device holds for the grace (timed by
    // timers, counted from when the device got it; a session start on the way to it counts as a
    // request of its own) has its own connection cut, or its start given up: nothing else fails,
    // the requests behind it go on over a new session, and a read stream of another's reads on
    // over it from where it was. A view may outlive this object; it does not end the bridge when
    // it goes. timers must outlive the view's requests.
    std::shared_ptr<AFCBridge> forRequestsOf(std::stop_token owner, UiTimerSource& timers) const;
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

    // Whether the media session of the device (with a bundle identifier: that app's session) is
    // open and its connection still up. Answers at once from any thread, without waiting for the
    // executor.
    bool isConnected(const QString& udid, const std::optional<QString>& bundleID = std::nullopt) const;
    // The same, naming the open session: a different number once the session was replaced (the
    // device went away and came back), none while it is not open.
    std::optional<quint64> connectedSession(const QString& udid,
                                            const std::optional<QString>& bundleID = std::nullopt) const;
    // Shuts the connections of the device's sessions down (every session's when udid is empty),
    // from any thread and without waiting: a call waiting on a silent or gone device fails at once
    // as with a lost connection, and its session is closed. For a device that has gone, before
    // its sessions are closed, and for quitting while copies hang.
    void interrupt(const QString& udid = QString());

    // The children whose facts could be read; the others are left out and logged.
    async::Task<QList<AFCFileInfo>> listDirectory(QString udid, QString path,
                                                  std::optional<QString> bundleID);
    // As listDirectory, with the names that were left out, for callers that must not take the
    // entries for the whole folder.
    async::Task<AFCDirectoryListing> listDirectoryDetailed(QString udid, QString path,
                                                           std::optional<QString> bundleID);
    async::Task<AFCFileInfo> fileInfo(QString udid, QString path, std::optional<QString> bundleID);
    // Starts reading at once; the stream's next() hands out the chunks. Its reads are never dropped
    // for a cancel (a copy cancelled while it is checked still checks what it copied whole), but
    // one the device holds past the cancel is cut as any other.
    AFCReadStream readStream(QString udid, QString path, std::optional<QString> bundleID);
    async::Task<QByteArray> readFile(QString udid, QString path, uint32_t maxBytes,
                                     std::optional<QString> bundleID);
    // Copies a device file to a local file and returns the bytes copied. The copy is written
    // beside the target and replaces it only when complete (keeping an existing file's
    // permissions); a failed or cancelled copy leaves the target as it was. progress is called
    // on a copy thread, inline, so it must be thread-safe and quick. Cancelled through token, a
    // copy not yet begun is dropped, and one the device still holds a moment (cancelGrace) after
    // it got it has its own connection cut, so that it ends even when the device has stopped
    // answering; whatever else waits on the device goes on.
    async::Task<quint64> download(QString udid, QString path, URL to, std::optional<QString> bundleID,
                                  AFCDownloadProgress progress, std::stop_token token = {},
                                  AFCCopyOptions options = {});
    async::Task<void> removeItem(QString udid, QString path, std::optional<QString> bundleID);
    // Removes the file at path unless objection, given what the device says of it right before,
    // names a reason to keep it; returns that reason, nothing once the file is gone. The look and
    // the removal are one job: nothing of this bridge's comes between them, and the look costs
    // one request, not another turn of the executor. objection runs on the executor thread.
    async::Task<std::optional<QString>>
    removeFileUnless(QString udid, QString path, std::optional<QString> bundleID,
                     std::function<std::optional<QString>(const AFCFileInfo&)> objection);
    async::Task<void> renameItem(QString udid, QString from, QString to, std::optional<QString> bundleID);
    // Gives an item the name to unless something bears it, as a copy puts back an item it set
    // aside: see AFCItemOperations::putBack.
    async::Task<AFCPutBack> putBack(QString udid, QString from, QString to, std::optional<QString> bundleID);
    // Links inside the folder are removed, never followed.
    async::Task<void> removeRecursively(QString udid, QString path, std::optional<QString> bundleID);
    // A folder of the program's own (a copy's staging folder), in one request where the device
    // can: nothing in it is the user's, so nothing needs to be looked at on the way.
    async::Task<void> removeTree(QString udid, QString path, std::optional<QString> bundleID);
    async::Task<void> makeDirectory(QString udid, QString path, std::optional<QString> bundleID);
    // Puts right now what a copy of this program left, written down in entry (its device and area
    // are the entry's), by the rule of the session's clean-up; true when nothing is left to do
    // and the entry may be struck, false when it must wait for a later session.
    async::Task<bool> settleLeftover(LeftoverJournal::Entry entry);
    // Copies a local file to the device and returns the bytes sent. As with download, the copy
    // replaces the target only when complete; a failed or cancelled one leaves it as it was, and
    // a cancelled one ends as download's does on a silent device. A device that stops taking data
    // for a while only delays the copy: no write leaves its connection out of step (AFCSendRoom),
    // and one the device holds past the library's wait for an answer goes on over a new session
    // from the last byte the device confirmed.
    // progress (may be empty) is called on the bridge's executor thread.
    async::Task<quint64> uploadFile(QString udid, QString path, URL from, std::optional<QString> bundleID,
                                    AFCUploadProgress progress = {}, std::stop_token token = {},
                                    AFCCopyOptions options = {});
    // The AFC client of the session: a check that the session is open. The handle itself may be
    // used only inside this bridge's jobs. Fails with notConnected(key).
    async::Task<afc_client_t> afcClient(QString udid, std::optional<QString> bundleID);

    // As download, but each progress report is posted to the main thread. They are posted ahead
    // of the result, so all of them have been delivered when the awaiting coroutine resumes.
    async::Task<quint64> downloadFile(QString udid, QString path, URL to, std::optional<QString> bundleID,
                                      AFCDownloadProgress progress, std::stop_token token = {});
    // The user apps that share their documents over USB, sorted by name, asked on a connection of
    // its own: no session is opened or used.
    async::Task<QList<AppInfo>> listApps(QString udid);

private:
    AFCBridge(std::shared_ptr<AFCBridgeCore> core, std::stop_token owner, UiTimerSource& timers);
    AFCRequest request(bool droppable, std::stop_token cancel = {}) const;

    std::shared_ptr<AFCBridgeCore> m_core;
    // Set on a view only.
    std::stop_token m_owner;
    UiTimerSource* m_ownerTimers = nullptr;
};
