#pragma once

#include "device/AFCError.h"
#include "device/AFCRequest.h"
#include "device/AFCSessionSockets.h"
#include "device/AFCSessionTable.h"
#include "device/AFCStreamHost.h"
#include "device/LocalChunkReader.h"
#include "device/LocalChunkWriter.h"
#include "platform/UiTimerSource.h"
#include "platform/async/Cancellation.h"
#include "platform/async/SerialExecutor.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <stop_token>
#include <vector>

// The inside of an AFCBridge: its executor and the state that only the executor's jobs touch (the
// sessions, and the workers that overlap local disk I/O with device requests). Kept apart from
// the bridge's header so that its users never see the device library.
class AFCBridgeCore final : public AFCStreamHost, public std::enable_shared_from_this<AFCBridgeCore> {
public:
    using Request = AFCRequest;

    class Watch;

    // What a job is handed. stop is stopped when the bridge goes away: every loop over chunks or
    // entries checks it, so quitting never waits for a long copy to end. The job calls
    // watch.sent() once its session is ready and the device is about to get the request.
    struct Job {
        AFCSessionTable& sessions;
        LocalChunkWriter& writer;
        LocalChunkReader& reader;
        std::stop_token stop;
        Watch& watch;
    };

    // The cancel grace of the job in progress, armed when its request is sent, and for each session
    // start it makes on the way (a start is a request of its own to the device).
    class Watch final : public AFCSessionStartWatch {
    public:
        Watch(AFCBridgeCore& core, quint64 serial, const Request& request);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

        // Whether the job may be dropped unsent: a cancel came after it was queued.
        bool cancelledUnsent() const;
        // The request is going to the device over the session under key.
        void sent(const QString& key);

        void starting(const QString& key) override;
        void started() override;

    private:
        // The graces of the request's cancels, each cutting key once it has passed.
        std::vector<std::shared_ptr<void>> arm(const QString& key) const;

        AFCBridgeCore& m_core;
        quint64 m_serial;
        const Request& m_request;
        bool m_sent = false;
        std::vector<std::shared_ptr<void>> m_armed;
        std::vector<std::shared_ptr<void>> m_startArmed;
    };

    // How long the owner's thread waits for the job in progress to end when the bridge goes.
    static constexpr std::chrono::milliseconds ownerWait{20};

    AFCBridgeCore(uint32_t chunkBytes, std::shared_ptr<LeftoverJournal> journal);
    ~AFCBridgeCore();
    AFCBridgeCore(const AFCBridgeCore&) = delete;
    AFCBridgeCore& operator=(const AFCBridgeCore&) = delete;

    // Queues fn(Job&) on the executor; a task of its result.
    // A job whose connection was cut because the bridge is going ends as cancelled, as one
    // stopped between chunks does: the caller asked for nothing to fail.
    template <typename F> auto perform(F fn, Request request = {}) {
        const quint64 serial = issue(request);
        auto job = [this, fn = std::move(fn), request = std::move(request), serial]() mutable {
            Watch watch(*this, serial, request);
            if (watch.cancelledUnsent())
                throw async::CancelledError{};
            Job context{m_sessions, m_writer, m_reader, m_executor->shutdownToken(), watch};
            try {
                return fn(context);
            } catch (const AFCError& error) {
                if (context.stop.stop_requested() && error.isConnectionLost())
                    throw async::CancelledError{};
                throw;
            }
        };
        return m_executor->run(std::move(job));
    }

    // Stops the job in progress at its next check, drops the queued ones, then frees the
    // sessions' handles on the executor thread. The owner's thread waits for that at most
    // ownerWait: a job still running then is left to a thread of its own, which cuts every
    // session's connection should the job not end within AFCBridge::cancelGrace (it waits on a silent
    // device), and lets the core go once the executor is done.
    static void shutdown(std::shared_ptr<AFCBridgeCore> core);
    // Cores handed over by shutdown() that have not ended yet.
    static int retiredCoresRunning();
    // Written down when made, so that the end of a process finds a core that nobody destroyed.
    static void noteMade(const std::shared_ptr<AFCBridgeCore>& core);
    // For the end of a process: every core never handed to shutdown() (its bridge is held by a
    // task that did not end in time) is stopped as shutdown() stops one, its connections cut at
    // once; waits for their jobs in progress to end, at most limit; whether they have.
    static bool stopHeldCores(std::chrono::milliseconds limit);
    // Waits until they have all ended, at most limit; whether they have. For the end of a
    // process, which must not pull the library's state away from a core still closing.
    static bool waitForRetiredCores(std::chrono::milliseconds limit);

    AFCSessionSockets& sockets() { return m_sockets; }

    async::Task<std::optional<QByteArray>> readChunk(std::shared_ptr<AFCStreamSource> source) override;
    void closeStream(std::shared_ptr<AFCStreamSource> source) override;

private:
    // Numbers a request as it is queued, noting whether it was made after its cancel.
    quint64 issue(Request& request);
    // Cuts the connection under key when the job numbered serial is still the one in progress.
    void cutIfRunning(quint64 serial, const QString& key);

    // Declared first: the session table refers to it.
    AFCSessionSockets m_sockets;
    AFCSessionTable m_sessions;
    LocalChunkWriter m_writer;
    LocalChunkReader m_reader;
    // Declared last, so that its thread has stopped before the state its jobs use is destroyed.
    std::unique_ptr<async::SerialExecutor> m_executor;
    // Stops the executor and queues the freeing of the sessions behind the job in progress, once
    // whoever asks first (shutdown() or stopHeldCores()); ready once they are freed.
    std::shared_future<void> beginStop();

    std::once_flag m_stopOnce;
    std::shared_future<void> m_closed;

    std::atomic<quint64> m_issued{0};
    // The job in progress (0: none), changed by the executor and read by a cut under the lock, so
    // that a cut never lands on the job after the one it was meant for.
    std::mutex m_runningMutex;
    quint64 m_running = 0;
    quint64 m_cutSerial = 0;
};
