#include "device/AFCBridgeCore.h"

#include "device/AFCBridge.h"
#include "device/AFCError.h"
#include "device/AFCSessionStart.h"
#include "device/AFCStreamSource.h"
#include "platform/Logger.h"
#include "platform/StopGrace.h"
#include "platform/UiTimerSource.h"

#include <algorithm>
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
    : m_sessions(m_sockets, std::move(journal), chunkBytes), m_writer(chunkBytes), m_reader(chunkBytes),
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

quint64 AFCBridgeCore::issue(Request& request) {
    request.madeAfterCancel =
        request.cancel.stop_requested() || (request.hasOwner() && request.owner.stop_requested());
    return ++m_issued;
}

void AFCBridgeCore::cutIfRunning(quint64 serial, const QString& key) {
    const std::lock_guard lock(m_runningMutex);
    // Two cancels may watch one request (a copy's own and its transfer's): one cut does.
    if (m_running != serial || m_cutSerial == serial)
        return;
    m_cutSerial = serial;
    Logger::bridge().info("A cancelled request to %s is still unanswered; cutting its connection", key);
    m_sockets.cut(key);
}

AFCBridgeCore::Watch::Watch(AFCBridgeCore& core, quint64 serial, const Request& request)
    : m_core(core), m_serial(serial), m_request(request) {
    const std::lock_guard lock(m_core.m_runningMutex);
    m_core.m_running = serial;
    m_core.m_sessions.setStartWatch(this);
}

AFCBridgeCore::Watch::~Watch() {
    m_core.m_sessions.setStartWatch(nullptr);
    {
        const std::lock_guard lock(m_core.m_runningMutex);
        m_core.m_running = 0;
    }
    m_startArmed.clear();
    m_armed.clear();
}

bool AFCBridgeCore::Watch::cancelledUnsent() const {
    if (!m_request.droppable || m_request.madeAfterCancel)
        return false;
    return m_request.cancel.stop_requested() || (m_request.hasOwner() && m_request.owner.stop_requested());
}

std::vector<std::shared_ptr<void>> AFCBridgeCore::Watch::arm(const QString& key) const {
    std::vector<std::shared_ptr<void>> armed;
    // Most requests have no cancel, and nobody can want them cut.
    if (!m_request.cancel.stop_possible() && !m_request.hasOwner())
        return armed;
    const std::weak_ptr<AFCBridgeCore> weak = m_core.weak_from_this();
    const quint64 serial = m_serial;
    auto cutter = [weak, serial, key] {
        if (const std::shared_ptr<AFCBridgeCore> core = weak.lock())
            core->cutIfRunning(serial, key);
    };
    // The grace of each is counted from now, or from its cancel when that comes later.
    if (m_request.cancel.stop_possible())
        armed.push_back(
            StopGrace::arm(m_request.cancel, UiTimerSource::system(), AFCBridge::cancelGrace, cutter));
    if (m_request.hasOwner())
        armed.push_back(
            StopGrace::arm(m_request.owner, *m_request.ownerTimers, AFCBridge::cancelGrace, cutter));
    return armed;
}

void AFCBridgeCore::Watch::sent(const QString& key) {
    if (m_sent)
        return;
    m_sent = true;
    m_armed = arm(key);
}

void AFCBridgeCore::Watch::starting(const QString& key) {
    m_startArmed = arm(key);
}

void AFCBridgeCore::Watch::started() {
    // The request itself gets a grace of its own once it is sent.
    m_startArmed.clear();
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
    // A start given up (stopHeldCores interrupted every device) may still wait on its device.
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return AFCSessionStart::waitForThreads(std::max(left, std::chrono::milliseconds(0)));
}

async::Task<std::optional<QByteArray>> AFCBridgeCore::readChunk(std::shared_ptr<AFCStreamSource> source) {
    return perform(
        [source](Job& job) {
            try {
                // A session cut for someone else's cancel is opened anew first: the stream reads on
                // over the new one from where it was.
                job.sessions.usableClient(source->udid(), source->bundleID());
                job.watch.sent(source->key());
                return source->readNext(job.sessions);
            } catch (const AFCError& error) {
                if (error.isConnectionLost())
                    job.sessions.dropLost(source->key());
                throw;
            }
        },
        source->request());
}

void AFCBridgeCore::closeStream(std::shared_ptr<AFCStreamSource> source) {
    m_executor->post([this, source] { source->close(m_sessions); });
}
