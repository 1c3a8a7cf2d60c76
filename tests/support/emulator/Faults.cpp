#include "Faults.h"

#include <algorithm>

namespace fakemux {

void Faults::clear() {
    std::lock_guard lock(m_mutex);
    m_locked = false;
    m_pairingRefusal.clear();
    m_rejectHostId = false;
    m_serviceRefusals.clear();
    m_hiddenValues.clear();
    m_vendErrors.clear();
    m_containerAccess.clear();
    m_browseError.reset();
    m_browsePageSize = 0;
    m_unplugAfter.reset();
    m_afcBytes = 0;
    m_unplugAfterReplies.reset();
    m_unanswered.reset();
    m_refusedOperations.clear();
    m_holdNext.clear();
    m_holding = false;
    m_readGateAfter.reset();
    m_readBytes = 0;
    m_writeStall = false;
    m_writeStallAfter = 0;
    m_writtenBytes = 0;
    m_writeRefusal.reset();
    m_quotaLeft.reset();
    m_readError.reset();
    m_hostileEntries.clear();
    m_throttle = 0;
    // Threads still held from the previous test must let go.
    m_changed.notify_all();
}

std::vector<std::string> Faults::active() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> on;
    auto add = [&on](std::string phrase) {
        on.push_back(std::move(phrase));
    };
    using std::to_string;
    if (!m_pairingRefusal.empty())
        add("refuse-pairing " + m_pairingRefusal);
    if (m_rejectHostId)
        add("reject-host-id");
    for (const auto& [service, error] : m_serviceRefusals)
        add("refuse-service " + service + " " + error);
    for (const auto& key : m_hiddenValues)
        add("hide-value " + key);
    for (const auto& [app, error] : m_vendErrors)
        add("vend-error " + app.first + " " + app.second + " " + error);
    for (const auto& [app, access] : m_containerAccess)
        add("container-access " + app + (access == ContainerAccess::refused ? " refused" : " empty"));
    if (m_browseError)
        add("browse-error " + m_browseError->first);
    if (m_browsePageSize)
        add("browse-pages " + to_string(m_browsePageSize));
    if (m_unplugAfter)
        add("unplug-after " + to_string(*m_unplugAfter) + " (" + to_string(m_afcBytes) + " moved)");
    if (m_unplugAfterReplies)
        add("unplug-after-replies " + to_string(*m_unplugAfterReplies));
    if (m_readGateAfter)
        add("gate-reads " + to_string(*m_readGateAfter) + " (" + to_string(m_readsHeld) + " held)");
    if (m_writeStall)
        add("stall-writes (" + to_string(m_writesStalled) + " held)");
    for (const std::string& operation : m_holdNext)
        add("hold-next " + operation);
    if (m_requestsHeld)
        add("hold-next (" + to_string(m_requestsHeld) + " held)");
    if (m_writeRefusal)
        add("refuse-writes " + to_string(m_writeRefusal->second) + " " + m_writeRefusal->first);
    if (m_quotaLeft)
        add("quota " + to_string(*m_quotaLeft) + " left");
    if (m_readError)
        add("read-error " + to_string(m_readError->first) + " " + to_string(m_readError->second));
    for (const auto& [folder, names] : m_hostileEntries)
        add("hostile " + folder + " (" + to_string(names.size()) +
            (names.size() == 1 ? " name)" : " names)"));
    if (m_throttle)
        add("throttle " + to_string(m_throttle));
    return on;
}

void Faults::setLocked(bool locked) {
    std::lock_guard lock(m_mutex);
    m_locked = locked;
}

bool Faults::locked() const {
    std::lock_guard lock(m_mutex);
    return m_locked;
}

void Faults::refusePairing(std::string error) {
    std::lock_guard lock(m_mutex);
    m_pairingRefusal = std::move(error);
}

std::string Faults::pairingRefusal() const {
    std::lock_guard lock(m_mutex);
    return m_pairingRefusal;
}

void Faults::rejectHostId(bool reject) {
    std::lock_guard lock(m_mutex);
    m_rejectHostId = reject;
}

bool Faults::hostIdRejected() const {
    std::lock_guard lock(m_mutex);
    return m_rejectHostId;
}

void Faults::refuseService(std::string service, std::string error) {
    std::lock_guard lock(m_mutex);
    m_serviceRefusals[std::move(service)] = std::move(error);
}

std::optional<std::string> Faults::serviceRefusal(const std::string& service) const {
    std::lock_guard lock(m_mutex);
    auto it = m_serviceRefusals.find(service);
    if (it == m_serviceRefusals.end())
        return std::nullopt;
    return it->second;
}

void Faults::hideValue(std::string key) {
    std::lock_guard lock(m_mutex);
    m_hiddenValues.push_back(std::move(key));
}

bool Faults::isHidden(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    return std::find(m_hiddenValues.begin(), m_hiddenValues.end(), key) != m_hiddenValues.end();
}

void Faults::setVendError(std::string bundleId, std::string command, std::string error) {
    std::lock_guard lock(m_mutex);
    m_vendErrors[{std::move(bundleId), std::move(command)}] = std::move(error);
}

void Faults::setContainerAccess(std::string bundleId, ContainerAccess access) {
    std::lock_guard lock(m_mutex);
    if (access == ContainerAccess::open)
        m_containerAccess.erase(bundleId);
    else
        m_containerAccess[std::move(bundleId)] = access;
}

Faults::ContainerAccess Faults::containerAccess(const std::string& bundleId) const {
    std::lock_guard lock(m_mutex);
    auto it = m_containerAccess.find(bundleId);
    return it == m_containerAccess.end() ? ContainerAccess::open : it->second;
}

std::optional<std::string> Faults::vendError(const std::string& bundleId, const std::string& command) const {
    std::lock_guard lock(m_mutex);
    auto it = m_vendErrors.find({bundleId, command});
    if (it == m_vendErrors.end())
        return std::nullopt;
    return it->second;
}

void Faults::setBrowseError(std::string error, std::string description) {
    std::lock_guard lock(m_mutex);
    m_browseError = std::make_pair(std::move(error), std::move(description));
}

std::optional<std::pair<std::string, std::string>> Faults::browseError() const {
    std::lock_guard lock(m_mutex);
    return m_browseError;
}

void Faults::setBrowsePageSize(size_t apps) {
    std::lock_guard lock(m_mutex);
    m_browsePageSize = apps;
}

size_t Faults::browsePageSize() const {
    std::lock_guard lock(m_mutex);
    return m_browsePageSize;
}

void Faults::unplugAfterAfcBytes(uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    m_unplugAfter = bytes;
    m_afcBytes = 0;
}

bool Faults::countAfcBytes(uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    m_afcBytes += bytes;
    return m_unplugAfter && m_afcBytes >= *m_unplugAfter;
}

void Faults::unplugAfterAfcReplies(uint64_t replies) {
    std::lock_guard lock(m_mutex);
    m_unplugAfterReplies = replies;
}

void Faults::unplugBeforeAnswering(std::string operation) {
    std::lock_guard lock(m_mutex);
    m_unanswered = std::move(operation);
}

void Faults::refuseOperation(std::string operation, uint64_t status) {
    std::lock_guard lock(m_mutex);
    m_refusedOperations[std::move(operation)] = status;
}

std::optional<uint64_t> Faults::operationRefusal(const std::string& operation) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_refusedOperations.find(operation);
    if (found == m_refusedOperations.end())
        return std::nullopt;
    return found->second;
}

void Faults::holdNext(std::string operation) {
    std::lock_guard lock(m_mutex);
    m_holdNext.insert(std::move(operation));
    m_holding = true;
}

void Faults::releaseHeld() {
    std::lock_guard lock(m_mutex);
    m_holdNext.clear();
    m_holding = false;
    m_changed.notify_all();
}

void Faults::passHeld() {
    std::lock_guard lock(m_mutex);
    ++m_passes;
    m_changed.notify_all();
}

bool Faults::waitUntilHeld(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    return waitFor(lock, limit, [this] { return m_requestsHeld > 0; });
}

bool Faults::passRequest(const std::string& operation) {
    std::unique_lock lock(m_mutex);
    const uint64_t unplugs = m_unplugs;
    if (m_holdNext.count(operation) == 0)
        return true;
    m_holdNext.clear();
    ++m_requestsHeld;
    const uint64_t passes = m_passes;
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return goneSince(unplugs) || !m_holding || m_passes != passes; });
    --m_requestsHeld;
    return !goneSince(unplugs);
}

bool Faults::takeUnanswered(const std::string& operation) {
    std::lock_guard lock(m_mutex);
    if (m_unanswered != operation)
        return false;
    m_unanswered.reset();
    return true;
}

bool Faults::countAfcReply() {
    std::lock_guard lock(m_mutex);
    if (!m_unplugAfterReplies)
        return false;
    if (*m_unplugAfterReplies > 1) {
        --*m_unplugAfterReplies;
        return false;
    }
    m_unplugAfterReplies.reset();
    return true;
}

template <typename Pred>
bool Faults::waitFor(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds limit, Pred pred) {
    return m_changed.wait_for(lock, limit, pred);
}

void Faults::gateReads(uint64_t afterBytes) {
    std::lock_guard lock(m_mutex);
    m_readGateAfter = afterBytes;
    m_readBytes = 0;
}

void Faults::releaseReads() {
    std::lock_guard lock(m_mutex);
    m_readGateAfter.reset();
    m_changed.notify_all();
}

bool Faults::waitUntilReadHeld(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    return waitFor(lock, limit, [this] { return m_readsHeld > 0; });
}

bool Faults::passRead(uint64_t bytes) {
    std::unique_lock lock(m_mutex);
    const uint64_t unplugs = m_unplugs;
    if (m_readGateAfter && m_readBytes >= *m_readGateAfter) {
        ++m_readsHeld;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return goneSince(unplugs) || !m_readGateAfter; });
        --m_readsHeld;
    }
    m_readBytes += bytes;
    return !goneSince(unplugs);
}

void Faults::stallWrites(uint64_t afterBytes) {
    std::lock_guard lock(m_mutex);
    m_writeStall = true;
    m_writeStallAfter = afterBytes;
    m_writtenBytes = 0;
}

void Faults::releaseWrites() {
    std::lock_guard lock(m_mutex);
    m_writeStall = false;
    m_changed.notify_all();
}

bool Faults::waitUntilWriteStalled(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    return waitFor(lock, limit, [this] { return m_writesStalled > 0; });
}

bool Faults::passWrite(uint64_t bytes) {
    std::unique_lock lock(m_mutex);
    const uint64_t unplugs = m_unplugs;
    if (m_writeStall && m_writtenBytes >= m_writeStallAfter) {
        ++m_writesStalled;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return goneSince(unplugs) || !m_writeStall; });
        --m_writesStalled;
    }
    m_writtenBytes += bytes;
    return !goneSince(unplugs);
}

void Faults::refuseWrites(uint64_t status, std::string pathPrefix) {
    std::lock_guard lock(m_mutex);
    m_writeRefusal = std::make_pair(std::move(pathPrefix), status);
}

std::optional<uint64_t> Faults::writeRefusal(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    if (!m_writeRefusal)
        return std::nullopt;
    const std::string& prefix = m_writeRefusal->first;
    bool below = prefix == "/" || path == prefix ||
                 (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
                  path[prefix.size()] == '/');
    if (!below)
        return std::nullopt;
    return m_writeRefusal->second;
}

void Faults::setQuota(uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    m_quotaLeft = bytes;
}

bool Faults::admitWrite(uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    if (!m_quotaLeft)
        return true;
    if (bytes > *m_quotaLeft)
        return false;
    *m_quotaLeft -= bytes;
    return true;
}

std::optional<uint64_t> Faults::quotaLeft() const {
    std::lock_guard lock(m_mutex);
    return m_quotaLeft;
}

void Faults::readErrorAt(uint64_t offset, uint64_t status) {
    std::lock_guard lock(m_mutex);
    m_readError = std::make_pair(offset, status);
}

std::optional<std::pair<uint64_t, uint64_t>> Faults::readError() const {
    std::lock_guard lock(m_mutex);
    return m_readError;
}

void Faults::addHostileEntries(std::string folder, std::vector<std::string> names) {
    std::lock_guard lock(m_mutex);
    auto& list = m_hostileEntries[std::move(folder)];
    list.insert(list.end(), names.begin(), names.end());
}

std::vector<std::string> Faults::hostileEntries(const std::string& folder) const {
    std::lock_guard lock(m_mutex);
    auto it = m_hostileEntries.find(folder);
    return it == m_hostileEntries.end() ? std::vector<std::string>{} : it->second;
}

bool Faults::isHostilePath(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    for (const auto& [folder, names] : m_hostileEntries) {
        for (const auto& name : names) {
            if ((folder == "/" ? "/" + name : folder + "/" + name) == path)
                return true;
        }
    }
    return false;
}

void Faults::throttle(uint64_t bytesPerSecond) {
    std::lock_guard lock(m_mutex);
    m_throttle = bytesPerSecond;
    m_throttleStart = Clock::now();
    m_throttleBytes = 0;
}

bool Faults::pace(uint64_t bytes) {
    std::unique_lock lock(m_mutex);
    if (m_throttle == 0)
        return !m_gone;
    m_throttleBytes += bytes;
    auto due = m_throttleStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                     static_cast<double>(m_throttleBytes) / static_cast<double>(m_throttle)));
    const uint64_t unplugs = m_unplugs;
    m_changed.wait_until(lock, due, [&] { return goneSince(unplugs) || m_throttle == 0; });
    return !goneSince(unplugs);
}

void Faults::interrupt() {
    std::lock_guard lock(m_mutex);
    m_gone = true;
    ++m_unplugs;
    m_changed.notify_all();
}

void Faults::resume() {
    std::lock_guard lock(m_mutex);
    m_gone = false;
}

} // namespace fakemux
