#pragma once

#include "platform/URL.h"
#include "platform/async/Task.h"
#include "services/FileListing.h"

#include <memory>

class TransferPlacement;

// A device folder listed straight from the device, past the provider's cache and with hidden
// items: what a move is about to copy and then delete must be what is there now, all of it.
class DeviceFolderListing {
public:
    static async::Task<FileListing> listAll(std::shared_ptr<TransferPlacement> placement, URL folder);

    DeviceFolderListing() = delete;
};
