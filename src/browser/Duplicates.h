#pragma once

#include "models/FileItem.h"
#include "platform/async/Task.h"

#include <QList>

#include <memory>
#include <stop_token>

class FileSystemProvider;
class TransferManager;

// Duplicate (Ctrl+D) in every browser: each item is copied into its own folder under its name
// with " copy" (then " copy 2", " copy 3"…) added, the first such name nothing there takes. The
// names a computer folder holds are looked at on the provider's executor: a folder on a share
// that stopped answering holds the duplicate, never the window.
namespace Duplicates {

async::Task<void> duplicate(QList<FileItem> items, std::shared_ptr<FileSystemProvider> provider,
                            std::shared_ptr<TransferManager> transfers, std::stop_token token);

} // namespace Duplicates
