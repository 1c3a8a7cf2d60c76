#pragma once

#include "models/FileItem.h"
#include "platform/URL.h"
#include "platform/async/Task.h"

#include <QList>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <vector>

class TransferPlacement;

// The items a transfer or move was given and has not taken yet. A Replace must never set aside or
// remove one of them, nor anything inside one or holding one: the item would be gone before its
// turn, and the transfer would then copy (or a move delete) whatever took its name instead.
//
// Main thread only. Held by shared_ptr by the coroutines that ask it.
class PendingSources {
public:
    // How the item a Replace would remove stands to the source it meets.
    enum class Relation { same, inside, holds };
    struct Clash {
        Relation relation = Relation::same;
        // The source's name, for the error.
        QString source;
    };

    explicit PendingSources(const QList<FileItem>& sources);
    // A camera roll's sources are freed elsewhere, not on the window's thread.
    ~PendingSources();
    PendingSources(const PendingSources&) = delete;
    PendingSources& operator=(const PendingSources&) = delete;

    // The source at index (in the order given) is taken: from now on it is an item like another.
    void take(qsizetype index);
    // A source not taken that url is, lies inside or holds, seen as the file system sees it (links
    // resolved on this computer). Computer locations are resolved on the placement's executor;
    // the sources' own once, at the first question.
    async::Task<std::optional<Clash>> clashWith(std::shared_ptr<TransferPlacement> placement, URL url);
    // The error that refuses replacing an item named name for clash.
    static QString refusal(const QString& name, const Clash& clash);

private:
    // Where url is, as one text compared by its path's prefixes: on this computer the resolved
    // path, on a device the device, the container and the normalized path. Blocking on this computer.
    static QString locationKey(const URL& url);
    void index(const QStringList& keys);

    QList<FileItem> m_sources;
    std::vector<bool> m_taken;
    qsizetype m_left = 0;
    bool m_indexed = false;
    QStringList m_keys;
    // The untaken sources by key, for lookups of a key's folders and of what lies below a key.
    std::multimap<QString, qsizetype> m_pending;
};
