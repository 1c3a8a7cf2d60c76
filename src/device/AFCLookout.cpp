#include "device/AFCLookout.h"

#include "device/AFCError.h"
#include "device/AFCItemOperations.h"
#include "device/AFCSessionOpener.h"
#include "platform/Logger.h"
#include "platform/async/SerialExecutor.h"

#include <QStringList>

AFCLookout::AFCLookout() : m_executor(std::make_unique<async::SerialExecutor>(QStringLiteral("AFCLookout"))) {}

AFCLookout::~AFCLookout() {
    interrupt();
    // A job dropped unrun leaves the promise broken, which ends the wait just the same.
    closeAll().wait();
    m_executor.reset();
}

std::shared_future<void> AFCLookout::closeAll() {
    auto closed = std::make_shared<std::promise<void>>();
    std::shared_future<void> done = closed->get_future().share();
    m_executor->post([this, closed] {
        m_closed = true;
        const QStringList udids = m_connections.keys();
        for (const QString& udid : udids)
            close(udid);
        closed->set_value();
    });
    return done;
}

AFCLookout::Answer AFCLookout::lookUp(const QString& udid, const QString& path) {
    auto promise = std::make_shared<std::promise<std::optional<afc_error_t>>>();
    Answer answer = promise->get_future().share();
    m_executor->post([this, udid, path, promise] {
        std::optional<afc_error_t> result;
        if (const afc_client_t afc = clientFor(udid)) {
            result = AFCItemOperations::lookUp(afc, path);
            if (AFCError::meansLostConnection(*result)) {
                close(udid);
                result.reset();
            }
        }
        promise->set_value(result);
    });
    return answer;
}

std::optional<afc_error_t> AFCLookout::answerOf(const Answer& answer) {
    try {
        return answer.get();
    } catch (const std::future_error&) {
        // Dropped with the lookout's thread before it ran.
        return std::nullopt;
    }
}

void AFCLookout::forget(const QString& udid) {
    m_executor->post([this, udid] { close(udid); });
}

void AFCLookout::interrupt(const QString& udid) {
    m_sockets.interrupt(udid);
}

afc_client_t AFCLookout::clientFor(const QString& udid) {
    if (m_closed)
        return nullptr;
    Connection& connection = m_connections[udid];
    if (connection.session.afc && m_sockets.isAlive(udid))
        return connection.session.afc;
    if (connection.session.afc)
        close(udid);
    Connection& fresh = m_connections[udid];
    const auto now = std::chrono::steady_clock::now();
    if (fresh.failedAt && now - *fresh.failedAt < retryAfterFailure)
        return nullptr;
    try {
        fresh.session = AFCSessionOpener::openMedia(udid);
        fresh.failedAt.reset();
    } catch (const AFCError& error) {
        Logger::bridge().debug("No second connection for look-ups on %s: %s", udid, error.description());
        fresh.failedAt = now;
        return nullptr;
    }
    m_sockets.add(udid, AFCSessionSockets::socketOf(fresh.session.afc));
    return fresh.session.afc;
}

void AFCLookout::close(const QString& udid) {
    auto it = m_connections.find(udid);
    if (it == m_connections.end())
        return;
    AFCSession session = it->session;
    m_connections.erase(it);
    // Before the handles go: the socket's number may be reused as soon as they are freed.
    m_sockets.remove(udid);
    session.release();
}
