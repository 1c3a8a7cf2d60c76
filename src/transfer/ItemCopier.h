#pragma once

#include "platform/Date.h"
#include "platform/URL.h"
#include "platform/async/Task.h"
#include "transfer/TransferManager.h"

#include <QString>

#include <memory>
#include <optional>

struct TransferRun;

// Places one item of a transfer (a source, or a child of a folder) and copies it there, so that
// replacing never leaves less than there was: the old item waits aside until the copy is whole,
// and is put back when the copy fails or is cancelled. A folder that replaces a file is built
// under a hidden name and takes its own only when whole, so that whatever holds the name is
// always a whole item. A name found taken when a copy is whole is asked about as any clash.
class ItemCopier {
public:
    struct Item {
        QString name;
        URL url;
        bool isDirectory = false;
        // What a listing told; asked for when absent.
        std::optional<quint64> size;
        std::optional<Date> modified;
    };

    // True when the item was already where it would go. With knownFree (a folder this transfer
    // has just made) nothing is looked at before the first try.
    static async::Task<bool> copy(std::shared_ptr<TransferRun> run, Item item, URL proposed,
                                  bool knownFree = false);

    ItemCopier() = delete;

private:
    static async::Task<void> copyPlaced(std::shared_ptr<TransferRun> run, Item item,
                                        TransferManager::Placement placement);
    static async::Task<void> copyTo(std::shared_ptr<TransferRun> run, Item item, URL destination);
    // A folder copied under a hidden name beside destination, renamed to it when whole.
    static async::Task<void> buildFolderHidden(std::shared_ptr<TransferRun> run, Item item, URL destination);
};
