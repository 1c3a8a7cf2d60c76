#include "device/AFCBridgeCore.h"

#include "device/AFCBridge.h"
#include "device/AFCError.h"
#include "device/AFCStreamSource.h"
#include "platform/StopGrace.h"
#include "platform/UiTimerSource.h"

#include <atomic>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

std::atomic<int> retiredCores{0};

std::mutex madeCoresMutex;
// Never destroyed: the end of a process reads it after statics may have gone.
std::vector<std::weak_ptr<AFCBridgeCore>>& madeCores() {
    static auto* cores = new std::vector<std::weak_ptr<AFCBridgeCore>>;
    return *cores;
}

} // namespace

AFCBridgeCore::AFCBridgeCore(uint32_t chunkBytes, std::shared_ptr<LeftoverJournal> journal)
    : m_sessions(m_sockets, std::move(journal)), m_writer(chunkBytes), m_reader(chunkBytes),
      m_executor(std::make_unique<async::SerialExecutor>(QStringLiteral("AFCBridge"))) {}

AFCBridgeCore::~AFCBridgeCore() = default;

void AFCBridgeCore::noteMade(const std::shared_ptr<AFCBridgeCore>& core) {
    const std::lock_guard lock(madeCoresMutex);
    std::erase_if(madeCores(), [](const std::weak_ptr<AFCBridgeCore>& made) { return made.expired(); });
    madeCores().push_back(core);
}

std::shared_future<void> AFCBridgeCore::beginStop() {
    std::call_once(m_stopOnce, [this] {
        m_executor->stop();
        // Handles are freed where they are used: on the executor, once the job in progress has
        // seen the stop (or its cut connection) and ended.
        auto closed = std::make_shared<std::promise<void>>();
        m_closed = closed->get_future().share();
        m_executor->post([this, closed] {
            m_sessions.closeAll();
            closed->set_value();
        });
    });
    return m_closed;
}

bool AFCBridgeCore::stopHeldCores(std::chrono::milliseconds limit) {
    std::vector<std::shared_ptr<AFCBridgeCore>> held;
    {
        const std::lock_guard lock(madeCoresMutex);
        for (const std::weak_ptr<AFCBridgeCore>& made : madeCores()) {
            if (std::shared_ptr<AFCBridgeCore> core = made.lock())
                held.push_back(std::move(core));
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<std::shared_future<void>> ends;
    for (const std::shared_ptr<AFCBridgeCore>& core : held) {
        ends.push_back(core->beginStop());
        // Whoever holds the bridge had its time: what its job waits on is cut at once.
        core->m_sockets.interrupt();
    }
    bool ended = true;
    for (const std::shared_future<void>& end : ends)
        ended = end.wait_until(deadline) == std::future_status::ready && ended;
    return ended;
}

void AFCBridgeCore::shutdown(std::shared_ptr<AFCBridgeCore> core) {
    const std::shared_future<void> done = core->beginStop();
    if (done.wait_for(ownerWait) == std::future_status::ready)
        return;
    // The job in progress has not ended yet: a thread of its own sees the core out, and the owner's
    // thread goes on at once. A copy that is moving ends at its next chunk and closes its files on
    // the device; one that waits on a silent device is cut off.
    ++retiredCores;
    std::thread([core = std::move(core), done]() mutable {
        if (done.wait_for(AFCBridge::cancelGrace) != std::future_status::ready)
            core->m_sockets.interrupt();
        done.wait();
        core.reset();
        --retiredCores;
    }).detach();
}

std::shared_ptr<void> AFCBridgeCore::cutWhenCancelled(const QString& udid, std::stop_token token) {
    const std::weak_ptr<AFCBridgeCore> weak = weak_from_this();
    return StopGrace::arm(std::move(token), UiTimerSource::system(), AFCBridge::cancelGrace, [weak, udid] {
        if (const std::shared_ptr<AFCBridgeCore> core = weak.lock())
            core->m_sockets.interrupt(udid);
    });
}

int AFCBridgeCore::retiredCoresRunning() {
    return retiredCores.load();
}

bool AFCBridgeCore::waitForRetiredCores(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    if (!stopHeldCores(limit))
        return false;
    while (retiredCores.load() > 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
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
