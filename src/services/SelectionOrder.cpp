#include "services/SelectionOrder.h"

#include <QString>

#include <algorithm>

QList<FileItem> SelectionOrder::inListingOrder(const QSet<FileItem>& selection,
                                               const QList<FileItem>& listing) {
    QList<FileItem> ordered;
    ordered.reserve(selection.size());
    // Each item once, even from a listing that names one twice: the selection's own records are
    // told apart by where they are stored, which costs no hashing of a camera roll's names.
    QSet<const FileItem*> taken;
    taken.reserve(selection.size());
    for (const FileItem& item : listing) {
        const auto selected = selection.constFind(item);
        if (selected == selection.constEnd())
            continue;
        const qsizetype before = taken.size();
        taken.insert(&*selected);
        // The selected record itself, which may be older than the listing's.
        if (taken.size() != before)
            ordered.append(*selected);
    }
    if (ordered.size() == selection.size())
        return ordered;

    QList<FileItem> unlisted;
    for (const FileItem& item : selection) {
        if (!taken.contains(&item))
            unlisted.append(item);
    }
    std::sort(unlisted.begin(), unlisted.end(),
              [](const FileItem& a, const FileItem& b) { return a.name() < b.name(); });
    ordered.append(unlisted);
    return ordered;
}
