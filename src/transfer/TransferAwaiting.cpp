// Awaiting a transfer's end, with an optional watchdog that gives up after a stall; the speed's
// own watch, which lets it fall while nothing moves.

#include "transfer/TransferManager.h"

#include "platform/Logger.h"
#include "platform/UuidText.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "platform/async/MainThread.h"
#include "platform/async/Outcome.h"
#include "platform/async/Race.h"

#include <chrono>
#include <cmath>

namespace {

// Beyond any timeout a caller gives; keeps the whole-second count inside 64 bits.
constexpr double longestTimeout = 1e12;

qint64 wholeSeconds(double seconds) {
    return qint64(std::trunc(seconds));
}

double secondsBetween(async::ContinuousClock::Instant from, async::ContinuousClock::Instant to) {
    return std::chrono::duration<double>(to - from).count();
}

async::Task<void> waiterChild(std::weak_ptr<const bool> alive, TransferManager* manager, QUuid id,
                              std::stop_token token) {
    if (alive.expired())
        co_return;
    async::Task<void> waiting = manager->awaitCompletion(id, token);
    co_await waiting;
}

async::Task<void> watchdogChild(std::weak_ptr<const bool> alive, TransferManager* manager, QUuid id,
                                double timeout, std::stop_token token) {
    if (alive.expired())
        co_return;
    async::Task<void> watching = manager->runStallWatchdog(id, timeout, token);
    co_await watching;
}

} // namespace

std::optional<std::exception_ptr> TransferManager::completionResultFor(const QUuid& id) const {
    if (const auto kept = m_awaitedRecords.constFind(id); kept != m_awaitedRecords.constEnd() && *kept)
        return completionResult(**kept);
    for (const Transfer& record : completedTransfers.value()) {
        if (record.id == id)
            return completionResult(record);
    }
    return std::nullopt;
}

async::Task<void> TransferManager::awaitCompletion(QUuid id, std::stop_token token) {
    if (const std::optional<std::exception_ptr> result = completionResultFor(id)) {
        if (*result)
            std::rethrow_exception(*result);
        co_return;
    }
    if (!activeRecord(id))
        throw TransferError::ioError(QStringLiteral("Transfer is no longer active"));
    async::throwIfCancelled(token);

    const std::weak_ptr<const bool> alive = m_alive;
    // Which waiter is ours, to take it out of the list when our own wait is cancelled; every
    // other waiter of the transfer stays parked.
    auto parked = std::make_shared<const void*>(nullptr);
    auto park = [this, id, parked](async::Continuation<void> continuation) {
        *parked = continuation.state().get();
        m_completionContinuations[id].append(std::move(continuation));
    };
    TransferManager* self = this;
    // The stop may come from any thread: the waiter is only touched on the main thread. When the
    // manager is gone its list went with it, and that resumed the waiter already.
    std::function<void()> onStop = [alive, self, id, parked] {
        async::postToMain([alive, self, id, parked] {
            if (alive.expired())
                return;
            const auto waiters = self->m_completionContinuations.find(id);
            if (waiters == self->m_completionContinuations.end())
                return;
            for (qsizetype index = 0; index < waiters->size(); ++index) {
                if (waiters->at(index).state().get() == *parked) {
                    const async::Continuation<void> mine = waiters->takeAt(index);
                    mine.resumeWithException(std::make_exception_ptr(async::CancelledError{}));
                    break;
                }
            }
            if (waiters->isEmpty())
                self->m_completionContinuations.erase(waiters);
        });
    };
    std::stop_callback<std::function<void()>> stopping(token, std::move(onStop));
    co_await async::withContinuation<void>(park);
}

async::Task<void> TransferManager::runStallWatchdog(QUuid id, double timeout, std::stop_token token) {
    const std::weak_ptr<const bool> alive = m_alive;
    async::ContinuousClock& clock = m_clock;
    auto lastProgressAt = clock.now();
    const Transfer* found = activeRecord(id);
    if (!found) {
        // Ended already: its own result, never a success made up by the watchdog.
        if (const std::optional<std::exception_ptr> result = completionResultFor(id); result && *result)
            std::rethrow_exception(*result);
        co_return;
    }
    quint64 lastBytes = found->progress.bytesTransferred;
    qint64 lastFiles = found->progress.filesCompleted;
    qint64 lastLoggedIdle = 0;
    const qint64 shownTimeout = wholeSeconds(timeout);
    Logger::transfer().debug("Watchdog started for transfer %s (file: %s, timeout: %lds)", uuidString(id),
                             found->progress.currentFile, shownTimeout);
    for (;;) {
        async::Task<void> sleeping = clock.sleep(std::chrono::seconds(1), token);
        co_await sleeping;
        if (alive.expired())
            throw async::CancelledError{};
        async::throwIfCancelled(token);
        const Transfer* record = activeRecord(id);
        if (!record) {
            // The transfer ended between two looks: the caller gets what the transfer gave.
            const std::optional<std::exception_ptr> result = completionResultFor(id);
            if (!result)
                throw TransferError::ioError(QStringLiteral("Transfer is no longer active"));
            if (*result)
                std::rethrow_exception(*result);
            co_return;
        }
        const quint64 bytes = record->progress.bytesTransferred;
        const qint64 files = record->progress.filesCompleted;
        if (bytes > lastBytes || files > lastFiles) {
            lastProgressAt = clock.now();
            lastBytes = bytes;
            lastFiles = files;
            lastLoggedIdle = 0;
            continue;
        }
        const qint64 idle = wholeSeconds(secondsBetween(lastProgressAt, clock.now()));
        if (idle >= 10 && idle % 10 == 0 && idle != lastLoggedIdle) {
            Logger::transfer().error("Transfer %s has no progress for %lds (file: %s, bytes: %llu)",
                                     uuidString(id), idle, record->progress.currentFile, bytes);
            lastLoggedIdle = idle;
        }
        if (secondsBetween(lastProgressAt, clock.now()) >= timeout) {
            Logger::transfer().error("Transfer stalled for %lds (id: %s, file: %s)", shownTimeout,
                                     uuidString(id), record->progress.currentFile);
            throw TransferError::ioError(QStringLiteral("Transfer stalled for %1 seconds").arg(shownTimeout));
        }
    }
}

async::Task<void> TransferManager::transferAndAwait(QList<FileItem> sources, URL destination,
                                                    std::optional<double> stallTimeout,
                                                    std::stop_token token) {
    const std::weak_ptr<const bool> alive = m_alive;
    const Transfer transfer = startTransfer(std::move(sources), std::move(destination));
    // Kept here until the wait is over, however many transfers finish meanwhile.
    m_awaitedRecords.insert(transfer.id, std::nullopt);
    launchTask(transfer);
    async::Task<void> waiting = awaitTransfer(transfer.id, stallTimeout, token);
    async::detail::Outcome<void> outcome = co_await async::detail::settle(std::move(waiting));
    if (!alive.expired())
        forgetAwaitedRecord(transfer.id);
    if (outcome.error())
        std::rethrow_exception(outcome.error());
}

async::Task<void> TransferManager::awaitTransfer(QUuid id, std::optional<double> stallTimeout,
                                                 std::stop_token token) {
    if (!stallTimeout || !(*stallTimeout > 0)) {
        async::Task<void> waiting = awaitCompletion(id, token);
        co_await waiting;
        co_return;
    }
    const double timeout =
        std::isfinite(*stallTimeout) ? std::min(*stallTimeout, longestTimeout) : longestTimeout;
    const std::weak_ptr<const bool> alive = m_alive;
    Logger::transfer().info("Awaiting transfer %s with stall timeout %lds", uuidString(id),
                            wholeSeconds(timeout));
    TransferManager* self = this;
    auto waiter = [alive, self, id](std::stop_token childToken) {
        return waiterChild(alive, self, id, childToken);
    };
    auto watchdog = [alive, self, id, timeout](std::stop_token childToken) {
        return watchdogChild(alive, self, id, timeout, childToken);
    };
    async::Task<void> racing = async::race(waiter, watchdog, token);
    async::detail::Outcome<void> outcome = co_await async::detail::settle(std::move(racing));
    if (!outcome.error())
        co_return;
    if (alive.expired())
        std::rethrow_exception(outcome.error());
    Logger::transfer().error("Transfer watchdog/completion wait failed for %s: %s", uuidString(id),
                             async::describeException(outcome.error()));
    if (activeRecord(id))
        cancelTransfer(id);
    std::rethrow_exception(outcome.error());
}

void TransferManager::watchSpeed(const QUuid& id) {
    if (m_speedWatches.contains(id))
        return;
    const std::weak_ptr<const bool> alive = m_alive;
    // Ended by finishTransfer() or by the manager's end; spawn keeps the lambda alive meanwhile.
    async::TaskHandle<void> watch =
        async::spawn([this, alive, id](std::stop_token token) -> async::Task<void> {
            for (;;) {
                async::Task<void> pause = m_clock.sleep(std::chrono::seconds(1), token);
                co_await pause;
                if (alive.expired())
                    co_return;
                const double rate = m_speed.bytesPerSecond(id);
                Transfer* record = activeRecord(id);
                if (!record)
                    co_return;
                if (record->progress.bytesPerSecond != rate) {
                    record->progress.bytesPerSecond = rate;
                    publishActive();
                }
            }
        });
    if (!watch.isFinished())
        m_speedWatches.insert(id, watch);
}

void TransferManager::pauseSpeed(const QUuid& id) {
    m_speed.forget(id);
    Transfer* record = activeRecord(id);
    if (record && record->progress.bytesPerSecond != 0) {
        record->progress.bytesPerSecond = 0;
        publishActive();
    }
}
