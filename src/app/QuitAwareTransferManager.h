#pragma once

#include "transfer/TransferManager.h"

#include <memory>

// The transfer manager of the application: it also knows whether a transfer's task is still
// running, including one already marked cancelled, whose clean-up (removing its partial file)
// happens after the cancel returned. Quitting waits for that, so no half-written file that looks
// whole stays behind.
class QuitAwareTransferManager : public TransferManager {
public:
    using TransferManager::TransferManager;

    bool hasRunningTasks() const { return *m_running > 0; }
    // Cancels every transfer that has not finished.
    void cancelAll();

protected:
    async::Task<void> runTransfer(Transfer transfer, std::stop_token token) override;

private:
    std::shared_ptr<int> m_running = std::make_shared<int>(0);
};
