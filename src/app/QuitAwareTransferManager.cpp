#include "app/QuitAwareTransferManager.h"

void QuitAwareTransferManager::cancelAll() {
    const QList<Transfer> running = activeTransfers.value();
    for (const Transfer& transfer : running)
        cancelTransfer(transfer.id);
}

async::Task<void> QuitAwareTransferManager::runTransfer(Transfer transfer, std::stop_token token) {
    // The counter is shared, so that a task outliving the manager still lowers a live one.
    struct Running {
        std::shared_ptr<int> count;
        explicit Running(std::shared_ptr<int> counter) : count(std::move(counter)) { ++*count; }
        ~Running() { --*count; }
    };
    const Running running(m_running);
    co_await TransferManager::runTransfer(std::move(transfer), token);
}
