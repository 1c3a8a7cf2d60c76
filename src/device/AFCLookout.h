#pragma once

#include "device/AFCClientHandle.h"
#include "device/AFCSession.h"
#include "device/AFCSessionSockets.h"

#include <QHash>
#include <QString>

#include <chrono>
#include <future>
#include <memory>
#include <optional>

namespace async {
class SerialExecutor;
}

// Looks paths up on a device connection of its own, beside the one a copy writes through. A copy
// that must not replace what it meets asks whether its name is free; asked here while the copy's
// own bytes go out, the answer costs the copy no round trip of its own, which for a folder of small
// files is a fifth of each file's time. Only the media area gets such a connection: an app's
// container would need a second house_arrest vend, which costs more than it saves.
//
// Nothing depends on an answer coming: a look that cannot be made (no second connection could be
// opened, or it was lost) answers nullopt, and the copy then looks on its own connection as
// before. The sessions here live on this object's thread only.
class AFCLookout {
public:
    using Answer = std::shared_future<std::optional<afc_error_t>>;

    AFCLookout();
    // Cuts the connections, so that no look waits on a silent device, then closes them: at once
    // after closeAll() is done.
    ~AFCLookout();
    AFCLookout(const AFCLookout&) = delete;
    AFCLookout& operator=(const AFCLookout&) = delete;

    // The library's answer for path in the device's media area: AFC_E_SUCCESS when something is
    // there, AFC_E_OBJECT_NOT_FOUND when nothing is. Read it with answerOf().
    Answer lookUp(const QString& udid, const QString& path);
    // Waits for the answer; nullopt when the look could not be made.
    static std::optional<afc_error_t> answerOf(const Answer& answer);

    // Closes the device's connection here; the next look opens a new one.
    void forget(const QString& udid);
    // Closes every connection once the look in progress has ended; done when they are closed. A
    // bridge that goes away waits for this as for its own jobs, so that the lookout's end never
    // waits on a device.
    std::shared_future<void> closeAll();
    // Shuts down the connections (the device's, or all when udid is empty), so that a look waiting
    // on a silent device ends at once, as a lost connection.
    void interrupt(const QString& udid = QString());

    // After an open that failed (a locked device, say), how long looks go without asking again.
    static constexpr std::chrono::seconds retryAfterFailure{5};

private:
    struct Connection {
        AFCSession session;
        std::optional<std::chrono::steady_clock::time_point> failedAt;
    };

    // The open connection to the device, opened now if need be; nullptr when there is none to have.
    afc_client_t clientFor(const QString& udid);
    void close(const QString& udid);

    AFCSessionSockets m_sockets;
    QHash<QString, Connection> m_connections;
    // Set by closeAll(): a look asked afterwards opens nothing.
    bool m_closed = false;
    // Declared last: its thread stops before the connections it uses are gone.
    std::unique_ptr<async::SerialExecutor> m_executor;
};
