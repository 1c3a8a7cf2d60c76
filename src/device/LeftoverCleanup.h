#pragma once

#include "device/LeftoverJournal.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// What the clean-up does with one entry of the journal of leftovers, decided from what the place
// (the computer, or one area of a device) shows, and only from what the journal's records prove:
// - a partial copy goes;
// - an item set aside whose replacement was recorded whole and named goes;
// - an item set aside without that record comes back under its name, or under the first free
//   " copy" name beside it when something else holds its name; it is never removed;
// - a folder a copy made loses its transfer's partial copies directly inside it (those whose
//   names carry the entry's mark), nothing else;
// - whatever cannot be told now (a look that fails, a folder that is not there, a disk that is
//   not mounted, so that its mount point shows an empty folder of another file system, another
//   folder in the recorded one's place) keeps the entry for a later try.
// Only the program's own hidden names inside the folder of the item an entry stands for are ever
// touched: an entry of any other shape is no entry of ours (isOwnEntry).
class LeftoverCleanup {
public:
    using Entry = LeftoverJournal::Entry;

    enum class Presence { absent, present, unknown };

    // What a place offers. Any of them may throw (a lost device): settle() lets it through, and
    // the entry stays.
    struct Place {
        std::function<Presence(const QString& path)> lookUp;
        // The names in a folder; nothing when the folder cannot be listed.
        std::function<std::optional<QStringList>(const QString& folder)> children;
        // Renames from onto to unless to is taken; false when it was.
        std::function<bool(const QString& from, const QString& to)> renameUnlessTaken;
        // Removes the item, a folder with everything in it.
        std::function<void(const QString& path)> remove;
        // Whether folder is provably the one the entry recorded for it; unset where a folder
        // cannot be another one under the same path (a device).
        std::function<bool(const QString& folder, const Entry& entry)> isRecordedFolder = {};
    };

    enum class Action {
        keep,    // nothing can be told now: the entry stays
        forget,  // nothing is left to do: the entry goes
        remove,  // the items in paths go
        putBack, // the item in paths takes the name target
    };
    struct Decision {
        Action action = Action::keep;
        QStringList paths;
        QString target;
    };

    // Whether the entry has the shape of one this program writes: absolute paths without "." or
    // ".." steps, a hidden name of ours for the kind, an item set aside beside its original name.
    static bool isOwnEntry(const Entry& entry);
    // Looks, never acts.
    static Decision decide(const Entry& entry, const Place& place);
    // Decides and acts; true when the entry is settled and may be struck out.
    static bool settle(const Entry& entry, const Place& place);

    // How many " copy" names are tried before an item set aside is left for a later try.
    static constexpr int mostCopyNames = 100;

    LeftoverCleanup() = delete;
};
