#pragma once

#include "platform/async/Cancellation.h"
#include "transfer/PendingSources.h"
#include "transfer/TransferPlacement.h"

#include <QUuid>

#include <atomic>
#include <memory>
#include <stop_token>

class TransferManager;

// What one running transfer's copies share: its id, its cancellation, the services it copies
// through, and the running total of bytes copied. Held by shared_ptr by every coroutine of the
// run, so it lives until the last of them ends.
//
// The manager is reached only right after checkpoint(): the manager stops every run's token when
// it goes, so a copy that passed its checkpoint knows that the manager is still there.
struct TransferRun {
    QUuid id;
    std::stop_token token;
    TransferManager* manager = nullptr;
    std::weak_ptr<const bool> managerAlive;
    std::shared_ptr<TransferPlacement> placement;
    // The sources still to be taken: no Replace of the run may remove one of them.
    std::shared_ptr<PendingSources> pendingSources;
    quint64 bytesCopied = 0;
    // Set once the device would not link a copy (many refuse links): the run's later folders make
    // no staging folder, which would only cost them requests.
    std::shared_ptr<std::atomic<bool>> deviceRefusesLinks = std::make_shared<std::atomic<bool>>(false);
    // Staging folders of the run's folder copies that could not be removed: a folder built under
    // a hidden name that holds one must not take the user's visible name.
    int stagingFoldersLeft = 0;

    // Throws async::CancelledError when the manager is gone. A copy that has ended calls this
    // rather than checkpoint(): a file that was copied whole is recorded, cancelled or not.
    void ensureManager() const {
        if (managerAlive.expired())
            throw async::CancelledError{};
    }

    // Throws async::CancelledError when the transfer was cancelled or its manager is gone.
    void checkpoint() const {
        async::throwIfCancelled(token);
        if (managerAlive.expired())
            throw async::CancelledError{};
    }
};
