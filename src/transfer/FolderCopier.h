#pragma once

#include "platform/URL.h"
#include "platform/async/Task.h"

#include <memory>

struct TransferRun;

// Copies a folder and everything in it, depth first, in whichever of the four directions its two
// URLs give. The source is listed before anything is made at the destination; then the
// destination folder is made (or an existing one merged into), and each child is placed (name
// clashes asked about) and copied one after the other.
//
// Nothing is skipped silently: a child the listing could not read is logged and recorded in the
// report as a file that failed, and the transfer then cannot end as a clean success. The first
// child whose copy fails ends the folder copy; what was copied before it stays.
class FolderCopier {
public:
    static async::Task<void> copyFolder(std::shared_ptr<TransferRun> run, URL source, URL destination);

    FolderCopier() = delete;
};
