#pragma once

#include "models/FileItem.h"
#include "platform/Observable.h"
#include "platform/URL.h"
#include "platform/async/Task.h"

#include <QList>
#include <QSet>
#include <QStringView>

#include <cstddef>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

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
    // inside one of the folders among them, however the location is spelt. The menus ask at every
    // focus change and published change, so the items are read once for each content of the
    // clipboard (when it is put there) and a question costs the same for ten items as for a
    // camera roll.
    bool canPaste(const URL& destination) const;
    // Never fails: a failure is logged and leaves the clipboard as it was. True when the browsers
    // have heard already that the destination's files changed: a copy into a device folder that
    // ended whole says so itself (TransferManager::afcFilesUploaded) after its last file, and
    // every browser lists its folders again then; the caller need not read them once more.
    async::Task<bool> paste(URL destination);

    // How many item locations the answers of canPaste have read so far.
    std::size_t itemLocationsRead() const { return m_itemLocationsRead; }

private:
    // What a paste may do with one content of the clipboard, read from its items once: a
    // fingerprint of every item's location and of every folder item's inside prefix, sorted. A
    // question looks its destination up and confirms a match on the item itself, so the answer
    // is exactly the item-by-item one.
    struct Mark {
        std::size_t fingerprint;
        quint32 index;
        bool folderPrefix;
    };
    struct PasteFacts {
        // Held so that its storage stays alive and cannot be reused: a list sharing that storage
        // holds this very content, since a shared list is never changed in place.
        QList<FileItem> items;
        std::vector<Mark> marks;
    };
    const PasteFacts& factsFor(const QList<FileItem>& current) const;
    bool allows(const PasteFacts& facts, const URL::Location& destination) const;
    bool holds(const PasteFacts& facts, const URL::Location& destination, QStringView path,
               bool folderPrefix) const;

    std::shared_ptr<TransferManager> m_transferManager;
    std::shared_ptr<FileSystemProvider> m_fileSystemProvider;
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
    mutable PasteFacts m_facts;
    // The last question and its answer, until the content changes.
    mutable std::optional<std::pair<URL, bool>> m_lastAnswer;
    mutable std::size_t m_itemLocationsRead = 0;
    Subscription m_itemsWatch;
};
