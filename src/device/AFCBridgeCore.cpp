#include "device/AFCBridgeCore.h"

#include "device/AFCStreamSource.h"

#include <future>

AFCBridgeCore::AFCBridgeCore(uint32_t chunkBytes)
    : m_writer(chunkBytes), m_reader(chunkBytes),
      m_executor(std::make_unique<async::SerialExecutor>(QStringLiteral("AFCBridge"))) {}

AFCBridgeCore::~AFCBridgeCore() = default;

void AFCBridgeCore::shutdown() {
    m_executor->stop();
    // Handles are freed where they are used: on the executor, once the job in progress has seen
    // the stop and ended.
    std::promise<void> closed;
    std::future<void> done = closed.get_future();
    m_executor->post([this, &closed] {
        m_sessions.closeAll();
        closed.set_value();
    });
    done.wait();
}

async::Task<std::optional<QByteArray>> AFCBridgeCore::readChunk(std::shared_ptr<AFCStreamSource> source) {
    return perform([source](Job& job) { return source->readNext(job.sessions); });
}

void AFCBridgeCore::closeStream(std::shared_ptr<AFCStreamSource> source) {
    m_executor->post([this, source] { source->close(m_sessions); });
}
