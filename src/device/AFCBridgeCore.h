#pragma once

#include "device/AFCSessionTable.h"
#include "device/AFCStreamHost.h"
#include "device/LocalChunkReader.h"
#include "device/LocalChunkWriter.h"
#include "platform/async/SerialExecutor.h"

#include <memory>
#include <stop_token>

// The inside of an AFCBridge: its executor and the state that only the executor's jobs touch (the
// sessions, and the workers that overlap local disk I/O with device requests). Kept apart from
// the bridge's header so that its users never see the device library.
class AFCBridgeCore final : public AFCStreamHost {
public:
    // What a job is handed. stop is stopped when the bridge goes away: every loop over chunks or
    // entries checks it, so quitting never waits for a long copy to end.
    struct Job {
        AFCSessionTable& sessions;
        LocalChunkWriter& writer;
        LocalChunkReader& reader;
        std::stop_token stop;
    };

    explicit AFCBridgeCore(uint32_t chunkBytes);
    ~AFCBridgeCore();
    AFCBridgeCore(const AFCBridgeCore&) = delete;
    AFCBridgeCore& operator=(const AFCBridgeCore&) = delete;

    // Queues fn(Job&) on the executor; a task of its result.
    template <typename F> auto perform(F fn) {
        auto job = [this, fn = std::move(fn)]() mutable {
            Job context{m_sessions, m_writer, m_reader, m_executor->shutdownToken()};
            return fn(context);
        };
        return m_executor->run(std::move(job));
    }

    // Stops the job in progress at its next check, drops the queued ones, then frees every
    // session's handles on the executor thread and waits for that.
    void shutdown();

    async::Task<std::optional<QByteArray>> readChunk(std::shared_ptr<AFCStreamSource> source) override;
    void closeStream(std::shared_ptr<AFCStreamSource> source) override;

private:
    AFCSessionTable m_sessions;
    LocalChunkWriter m_writer;
    LocalChunkReader m_reader;
    // Declared last, so that its thread has stopped before the state its jobs use is destroyed.
    std::unique_ptr<async::SerialExecutor> m_executor;
};
