#include "device/AFCBridgeCore.h"

#include "device/AFCError.h"
#include "device/AFCStreamSource.h"

#include <atomic>
#include <future>
#include <thread>

namespace {

std::atomic<int> retiredCores{0};

} // namespace

AFCBridgeCore::AFCBridgeCore(uint32_t chunkBytes, std::shared_ptr<LeftoverJournal> journal)
    : m_sessions(m_sockets, std::move(journal)), m_writer(chunkBytes), m_reader(chunkBytes),
      m_executor(std::make_unique<async::SerialExecutor>(QStringLiteral("AFCBridge"))) {
    m_executor->post([this] { m_sockets.setWorkerThread(); });
}

AFCBridgeCore::~AFCBridgeCore() = default;

void AFCBridgeCore::shutdown(std::shared_ptr<AFCBridgeCore> core) {
    core->m_executor->stop();
    // Handles are freed where they are used: on the executor, once the job in progress has seen
    // the stop (or its cut connection) and ended.
    auto closed = std::make_shared<std::promise<void>>();
    std::shared_future<void> done = closed->get_future().share();
    AFCBridgeCore* self = core.get();
    self->m_executor->post([self, closed] {
        self->m_sessions.closeAll();
        closed->set_value();
    });
    // A copy that is moving ends at its next chunk and closes its files on the device; one that
    // waits on a silent device is cut off.
    if (done.wait_for(gracefulWait) == std::future_status::ready)
        return;
    self->m_sockets.interrupt();
    if (done.wait_for(shutdownWait - gracefulWait) == std::future_status::ready)
        return;
    // The executor is still inside a library call; whoever holds the core last destroys it, and
    // this thread must not be the one left waiting for that call.
    ++retiredCores;
    std::thread([core = std::move(core), done]() mutable {
        done.wait();
        core.reset();
        --retiredCores;
    }).detach();
}

int AFCBridgeCore::retiredCoresRunning() {
    return retiredCores.load();
}

async::Task<std::optional<QByteArray>> AFCBridgeCore::readChunk(std::shared_ptr<AFCStreamSource> source) {
    return perform([source](Job& job) {
        try {
            return source->readNext(job.sessions);
        } catch (const AFCError& error) {
            if (error.isConnectionLost())
                job.sessions.dropLost(source->key());
            throw;
        }
    });
}

void AFCBridgeCore::closeStream(std::shared_ptr<AFCStreamSource> source) {
    m_executor->post([this, source] { source->close(m_sessions); });
}
