#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fakemux {

// The fault switches of one virtual device. A test flips them from its own thread while the
// device's connection threads consult them, so every member locks. Waits (read gate, write stall,
// throttle) end early when the device is unplugged, which is how a test turns a stall into a
// disconnect without sleeping.
class Faults {
public:
    using Clock = std::chrono::steady_clock;

    // Back to a healthy device: every switch off, counters at zero.
    void clear();
    // The switches that are on, one short phrase each in the words of the control command that
    // sets them ("throttle 1048576"), so that someone looking at a misbehaving device sees why.
    // Being locked is left out: callers show it beside the plug state.
    std::vector<std::string> active() const;

    // --- lockdown ---
    // StartService of the AFC and house_arrest services answers "PasswordProtected".
    void setLocked(bool locked);
    bool locked() const;
    // The device shows as unpaired and answers Pair with this error ("UserDeniedPairing",
    // "PairingDialogResponsePending", "PasswordProtected"); empty to pair normally.
    void refusePairing(std::string error);
    std::string pairingRefusal() const;
    // StartSession answers "InvalidHostID" whatever host asks.
    void rejectHostId(bool reject);
    bool hostIdRejected() const;
    // StartService of one service answers this error.
    void refuseService(std::string service, std::string error);
    std::optional<std::string> serviceRefusal(const std::string& service) const;
    // GetValue behaves as if the device did not know this root-domain key.
    void hideValue(std::string key);
    bool isHidden(const std::string& key) const;

    // --- house_arrest and installation_proxy ---
    // One Vend command for one app answers with this error.
    void setVendError(std::string bundleId, std::string command, std::string error);
    std::optional<std::string> vendError(const std::string& bundleId, const std::string& command) const;
    // How one app's container answers listings once vended: as its files say (open), refusing
    // every listing (a container that lets nothing be read), or listing nothing (one whose data
    // the app keeps to itself).
    enum class ContainerAccess { open, refused, empty };
    void setContainerAccess(std::string bundleId, ContainerAccess access);
    ContainerAccess containerAccess(const std::string& bundleId) const;
    void setBrowseError(std::string error, std::string description);
    std::optional<std::pair<std::string, std::string>> browseError() const;
    // Browse answers in pages of this many apps; 0 sends them all in one page.
    void setBrowsePageSize(size_t apps);
    size_t browsePageSize() const;

    // --- AFC ---
    // Unplugs the device once this many AFC file bytes (read plus written) have moved.
    void unplugAfterAfcBytes(uint64_t bytes);
    // Counts moved bytes; true when the unplug threshold is reached.
    bool countAfcBytes(uint64_t bytes);

    // Unplugs the device once it has answered this many more AFC requests of any kind.
    void unplugAfterAfcReplies(uint64_t replies);
    // Counts one answered request; true when the unplug threshold is reached.
    bool countAfcReply();

    // The next request of this operation ("RENAME_PATH") is carried out, and then the device is
    // unplugged instead of answering it: the client never learns that it happened.
    void unplugBeforeAnswering(std::string operation);
    // True (once) when a request of this operation is to go unanswered.
    bool takeUnanswered(const std::string& operation);

    // Holds every FILE_READ that arrives once this many bytes were read, until released.
    void gateReads(uint64_t afterBytes = 0);
    void releaseReads();
    // Blocks until a read is held (true) or the time limit passes (false); the limit only stops a
    // broken test from hanging, it is no synchronisation.
    bool waitUntilReadHeld(std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Called before serving a read of n bytes; false when the device went away while held.
    bool passRead(uint64_t bytes);

    // Stops reading the payload of FILE_WRITE requests, once this many bytes were written, until
    // released or unplugged: the client's send blocks, as with a device that stops draining its
    // socket.
    void stallWrites(uint64_t afterBytes = 0);
    void releaseWrites();
    bool waitUntilWriteStalled(std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Called before reading a write payload of n bytes; false when the device went away while
    // stalled.
    bool passWrite(uint64_t bytes);

    // Requests of this operation ("MAKE_LINK") are answered "not supported" (15), as an older
    // device answers what it does not know, or with another status, as one that will not.
    void refuseOperation(std::string operation, uint64_t status = 15);
    // The status a request of this operation is answered with instead of being carried out.
    std::optional<uint64_t> operationRefusal(const std::string& operation) const;

    // The next request of this operation ("MAKE_DIR") is held unanswered, and the connection it
    // came on with it, until released (then it is carried out and answered) or the device is
    // unplugged: a device that stops answering in the middle of a copy. Called again before a
    // request was held, the next request of any of the operations named is held. A lockdown
    // request is named as the client asks for it ("StartService"): a session slow to start.
    void holdNext(std::string operation);
    void releaseHeld();
    // Lets the request held now go on, while the operations named since it was held stay armed.
    void passHeld();
    // Blocks until a request is held (true) or the time limit passes (false); the limit only
    // stops a broken test from hanging, it is no synchronisation.
    bool waitUntilHeld(std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Called before serving a request of this operation; false when the device went away while
    // it was held.
    bool passRequest(const std::string& operation);

    // FILE_OPEN for writing, MAKE_DIR, REMOVE_PATH and RENAME_PATH below the prefix answer status.
    void refuseWrites(uint64_t status = 10, std::string pathPrefix = "/");
    std::optional<uint64_t> writeRefusal(const std::string& path) const;
    // Bytes that FILE_WRITE may still store; beyond them a write answers 18 and stores nothing.
    void setQuota(uint64_t bytes);
    bool admitWrite(uint64_t bytes);
    std::optional<uint64_t> quotaLeft() const;
    // A read that reaches this file offset stops short of it; the next one answers status.
    void readErrorAt(uint64_t offset, uint64_t status = 4);
    std::optional<std::pair<uint64_t, uint64_t>> readError() const;
    // Names that READ_DIR of this folder adds to what the disk holds, such as "../x" or "a/b".
    void addHostileEntries(std::string folder, std::vector<std::string> names);
    std::vector<std::string> hostileEntries(const std::string& folder) const;
    // Whether the path is a hostile entry joined onto its folder with one slash, as a client joins it.
    bool isHostilePath(const std::string& path) const;
    // Limits AFC file traffic to this rate; 0 turns the limit off.
    void throttle(uint64_t bytesPerSecond);
    // Waits as long as moving n more bytes takes at the throttled rate; false when unplugged.
    bool pace(uint64_t bytes);

    // Wakes every wait with "gone": the device was unplugged or the emulator stops.
    void interrupt();
    // The device is back; waits may hold again.
    void resume();

private:
    template <typename Pred>
    bool waitFor(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds limit, Pred pred);

    // Whether the device went away since a wait began: a wait that slept through an unplug ends
    // as gone even when the device was plugged in again before it woke.
    bool goneSince(uint64_t unplugs) const { return m_gone || m_unplugs != unplugs; }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_gone = false;
    uint64_t m_unplugs = 0;

    bool m_locked = false;
    std::string m_pairingRefusal;
    bool m_rejectHostId = false;
    std::map<std::string, std::string> m_serviceRefusals;
    std::vector<std::string> m_hiddenValues;

    std::map<std::pair<std::string, std::string>, std::string> m_vendErrors;
    std::map<std::string, ContainerAccess> m_containerAccess;
    std::optional<std::pair<std::string, std::string>> m_browseError;
    size_t m_browsePageSize = 0;

    std::optional<uint64_t> m_unplugAfter;
    uint64_t m_afcBytes = 0;
    std::optional<uint64_t> m_unplugAfterReplies;
    std::optional<std::string> m_unanswered;
    std::map<std::string, uint64_t> m_refusedOperations;
    std::set<std::string> m_holdNext;
    bool m_holding = false;
    int m_requestsHeld = 0;
    uint64_t m_passes = 0;

    std::optional<uint64_t> m_readGateAfter;
    uint64_t m_readBytes = 0;
    int m_readsHeld = 0;

    bool m_writeStall = false;
    uint64_t m_writeStallAfter = 0;
    uint64_t m_writtenBytes = 0;
    int m_writesStalled = 0;

    std::optional<std::pair<std::string, uint64_t>> m_writeRefusal;
    std::optional<uint64_t> m_quotaLeft;
    std::optional<std::pair<uint64_t, uint64_t>> m_readError;
    std::map<std::string, std::vector<std::string>> m_hostileEntries;

    uint64_t m_throttle = 0;
    Clock::time_point m_throttleStart;
    uint64_t m_throttleBytes = 0;
};

} // namespace fakemux
