#pragma once

#include "models/FileItem.h"
#include "platform/Observable.h"
#include "platform/URL.h"
#include "platform/async/Task.h"

#include <QList>
#include <QSet>

#include <memory>

class FileSystemProvider;
class TransferManager;

// The application's own clipboard of file items, apart from the system pasteboard: Copy and Cut
// put the selection on it with a mode, Paste copies (an awaited transfer) or moves the items into
// a folder. It holds items, not files: nothing is read or reserved until a paste.
//
// Main thread only. A paste works on the items and mode it found when it began.
class ClipboardManager {
public:
    enum class Mode { copy = 0, cut = 1 };

    ClipboardManager(std::shared_ptr<TransferManager> transferManager,
                     std::shared_ptr<FileSystemProvider> fileSystemProvider);
    ~ClipboardManager();
    ClipboardManager(const ClipboardManager&) = delete;
    ClipboardManager& operator=(const ClipboardManager&) = delete;

    Observable<QList<FileItem>> items;
    Observable<Mode> mode{Mode::copy};

    // The locations of the cut items (drawn dimmed); empty in copy mode.
    QSet<URL> cutItemURLs() const;
    // False with nothing on the clipboard, and for a folder that is one of the items or lies
    // inside one of the folders among them, however the location is spelt.
    bool canPaste(const URL& destination) const;
    // Never fails: a failure is logged and leaves the clipboard as it was.
    async::Task<void> paste(URL destination);

private:
    std::shared_ptr<TransferManager> m_transferManager;
    std::shared_ptr<FileSystemProvider> m_fileSystemProvider;
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
};
