// The end of a transfer: its record among the finished ones, its report file and its entry in
// the stored history.

#include "transfer/TransferManager.h"

#include "platform/async/MainThread.h"
#include "platform/async/ReleaseElsewhere.h"
#include "services/FileSystemProvider.h"
#include "transfer/TransferReportWriter.h"

#include <algorithm>
#include <malloc.h>

namespace {

// A transfer that reported this many files gives the allocator's free memory back at its end.
constexpr qsizetype bigTransferLines = 1000;

// The history with the entry of id naming its report.
void nameReport(QList<TransferHistoryEntry>& history, const QUuid& id, const URL& report) {
    for (TransferHistoryEntry& entry : history) {
        if (entry.id() == id)
            entry = entry.withReportURLString(report.absoluteString());
    }
}

} // namespace

void TransferManager::finishTransfer(QUuid id) {
    const qsizetype index = [this, &id] {
        for (qsizetype i = 0; i < m_active.size(); ++i) {
            if (m_active.at(i).id == id)
                return i;
        }
        return qsizetype(-1);
    }();
    if (index >= 0) {
        Transfer record = m_active.takeAt(index);
        publishActive();
        if (const auto state = m_runStates.find(id); state != m_runStates.end()) {
            record.reportEntries = std::move(state->reportEntries);
            // Grown a line at a time; the finished record keeps no room for more. A big one's
            // lines go once its report is written: copying them all to squeeze would only cost.
            if (record.reportEntries.size() < bigTransferLines)
                record.reportEntries.squeeze();
        }
        if (const auto kept = m_awaitedRecords.find(id); kept != m_awaitedRecords.end())
            *kept = record;
        const std::exception_ptr result = completionResult(record);
        QList<async::Continuation<void>> waiters = m_completionContinuations.take(id);

        QList<Transfer> completed = completedTransfers.value();
        completed.prepend(record);
        if (completed.size() > maximumCompletedTransfers)
            completed.erase(completed.begin() + maximumCompletedTransfers, completed.end());
        completedTransfers = completed;

        QList<TransferHistoryEntry> history = transferHistory.value();
        history.removeIf([&id](const TransferHistoryEntry& entry) { return entry.id() == id; });
        history.prepend(TransferHistoryEntry(record));
        if (history.size() > maximumHistoryEntries)
            history.erase(history.begin() + maximumHistoryEntries, history.end());
        transferHistory = history;
        if (record.reportEntries.size() >= bigTransferLines)
            m_trimAfterSave = true;
        m_unwrittenReports.insert(id, record);
        saveHistoryThenWake(std::move(waiters), result, std::move(record));
    }
    m_transferTasks.remove(id);
    m_conflictPolicies.remove(id);
    m_throttle.forget(id);
    m_speed.forget(id);
    if (const auto watch = m_speedWatches.constFind(id); watch != m_speedWatches.constEnd()) {
        watch->cancel();
        m_speedWatches.erase(watch);
    }
    m_runStates.remove(id);
}

// ---------------------------------------------------------------------------------------------
// Reports and history

QString TransferManager::reportsDirectory() {
    return TransferReportWriter::reportsDirectory();
}

std::optional<URL> TransferManager::writeReport(const Transfer& transfer) const {
    return TransferReportWriter::write(transfer, reportsDirectory());
}

void TransferManager::loadHistory() {
    if (!m_defaults.dataForKey(historyDefaultsKey))
        return;
    transferHistory = m_history.load();
}

void TransferManager::saveHistory() {
    m_history.save(transferHistory.value());
    wakeAfterSave(++m_historySaves);
}

void TransferManager::clearHistory() {
    transferHistory = QList<TransferHistoryEntry>{};
    m_history.clear();
    wakeAfterSave(++m_historySaves);
}

void TransferManager::saveHistoryThenWake(QList<async::Continuation<void>> waiters, std::exception_ptr result,
                                          std::optional<Transfer> report) {
    const quint64 save = ++m_historySaves;
    m_wakeAfterSave.append(Wake{save, std::move(waiters), result});
    // Plain jobs, no coroutine: what is still queued when the manager or the program ends is
    // dropped whole, and the destructor writes the reports and the history itself.
    const std::weak_ptr<const bool> alive = m_alive;
    m_historyEncoder->post([alive, self = this, save, history = transferHistory.value(),
                            report = std::move(report), directory = reportsDirectory()]() mutable {
        std::optional<URL> written;
        if (report) {
            written = TransferReportWriter::write(*report, directory);
            if (written)
                nameReport(history, report->id, *written);
        }
        QByteArray encoded = TransferHistoryStore::encode(history);
        const QUuid id = report ? report->id : QUuid();
        // The record's lines are let go here, not on the main thread.
        report.reset();
        async::postToMain([alive, self, save, id, written, encoded = std::move(encoded)] {
            if (alive.expired())
                return;
            if (!id.isNull())
                self->reportWritten(id, written, save);
            self->historyEncoded(save, encoded);
        });
    });
}

void TransferManager::reportWritten(const QUuid& id, const std::optional<URL>& written, quint64 save) {
    m_unwrittenReports.remove(id);
    if (!written)
        return;
    const auto named = [&id, &written](Transfer& record) {
        if (record.id != id)
            return false;
        record.reportURL = written;
        return true;
    };
    QList<Transfer> completed = completedTransfers.value();
    bool found = false;
    QList<TransferReportEntry> released;
    for (Transfer& record : completed) {
        if (!named(record))
            continue;
        found = true;
        // The report on disk holds a big transfer's lines: the finished record keeps none, so
        // that a camera roll's copy leaves no memory behind a file it copied. They are freed
        // elsewhere: a hundred thousand lines take the window's thread tens of milliseconds.
        if (record.reportEntries.size() >= bigTransferLines)
            released = std::exchange(record.reportEntries, {});
    }
    if (found)
        completedTransfers = completed;
    if (!released.isEmpty())
        async::releaseElsewhere(std::move(released));
    if (const auto kept = m_awaitedRecords.find(id); kept != m_awaitedRecords.end() && *kept)
        named(**kept);
    QList<TransferHistoryEntry> history = transferHistory.value();
    const bool listed = std::any_of(history.cbegin(), history.cend(),
                                    [&id](const TransferHistoryEntry& entry) { return entry.id() == id; });
    if (!listed)
        return;
    nameReport(history, id, *written);
    transferHistory = history;
    // A later finish took its copy of the history before this entry named its report: the
    // history is written once more, and its waiters are woken by that write.
    if (save != m_historySaves)
        saveHistoryThenWake({}, nullptr);
}

void TransferManager::historyEncoded(quint64 save, const QByteArray& encoded) {
    // A newer write is on its way (it wakes these waiters too once stored) or done already.
    if (save != m_historySaves)
        return;
    m_history.store(encoded);
    if (std::exchange(m_trimAfterSave, false)) {
        // A transfer of thousands of files leaves the allocator holding the memory of its
        // per-file work, its report's text and its history's encoding, all freed by now: glibc
        // keeps freed memory for reuse rather than giving it back, so it is handed back to the
        // system once. On the worker, since it walks the whole heap (tens of milliseconds after
        // a camera roll); the transfer's waiters are woken after it.
        const std::weak_ptr<const bool> alive = m_alive;
        m_historyEncoder->post([alive, self = this, save] {
            malloc_trim(0);
            async::postToMain([alive, self, save] {
                if (!alive.expired())
                    self->wakeAfterSave(save);
            });
        });
        return;
    }
    wakeAfterSave(save);
}

void TransferManager::forgetAwaitedRecord(const QUuid& id) {
    std::optional<Transfer> record = m_awaitedRecords.take(id);
    if (record)
        async::releaseElsewhere(std::move(record));
}

void TransferManager::writeUnwrittenReports() {
    // The worker's job under way ends first; the jobs still queued are dropped.
    m_historyEncoder.reset();
    QList<TransferHistoryEntry> history = transferHistory.value();
    for (const Transfer& report : std::as_const(m_unwrittenReports)) {
        if (const std::optional<URL> written = writeReport(report))
            nameReport(history, report.id, *written);
    }
    m_unwrittenReports.clear();
    transferHistory = history;
}

void TransferManager::wakeAfterSave(quint64 save) {
    const QList<Wake> pending = std::exchange(m_wakeAfterSave, {});
    for (const Wake& wake : pending) {
        if (wake.save > save) {
            m_wakeAfterSave.append(wake);
            continue;
        }
        for (const async::Continuation<void>& waiter : wake.waiters) {
            if (wake.result)
                waiter.resumeWithException(wake.result);
            else
                waiter.resume();
        }
    }
}
