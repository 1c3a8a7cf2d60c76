#pragma once

#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

// What a copy leaves on a disk or a device while it runs: the hidden file it writes before that
// takes its name, and an old item set aside under a hidden name while its replacement is made.
// Each is written down here before it exists and struck out once it is gone, so that a crash, a
// quit or a lost device never leaves one behind for good: the next run (for the computer) or the
// next session of the device puts things right.
//
// The rule the entries rely on: a replacement takes the original name only when it is whole. So
// for an item set aside, a free original name means the copy never finished (the aside item is
// put back), and a taken one means it did (the aside item is removed).
//
// One journal serves a process per file, shared by every thread that copies: each call holds a
// lock and appends its line to the file before it returns (the file is written anew only when it
// is opened and when struck-out lines have piled up). Entries added by this process are running
// copies' and are never handed out as leftovers; entries found in the file at start are.
class LeftoverJournal {
public:
    enum class Kind { partialCopy, asideItem };

    struct Entry {
        Kind kind = Kind::partialCopy;
        // The device's UDID; empty for the computer.
        QString udid;
        // The app whose container holds the item; empty for a device's media area and the computer.
        QString bundleID;
        // The hidden item.
        QString path;
        // For an aside item: the name it is put back under.
        QString originalPath;

        bool operator==(const Entry& other) const = default;
    };

    // The journal stored in file (made on the first entry). Entries the file holds are leftovers.
    explicit LeftoverJournal(QString file);
    LeftoverJournal(const LeftoverJournal&) = delete;
    LeftoverJournal& operator=(const LeftoverJournal&) = delete;

    // "<data folder>/Orvanta/Leftovers.jsonl", the data folder being the user's (XDG_DATA_HOME).
    static QString defaultFile();
    // The one journal of the process for file (the default file when empty): two bridges or a
    // bridge and a transfer must see each other's running copies.
    static std::shared_ptr<LeftoverJournal> shared(const QString& file = QString());

    // Writes entry down before the caller makes the item; false (logged) when it could not be
    // stored. The entry is a running copy's until finished().
    bool begin(const Entry& entry);
    // Strikes entry out: the item is gone, or it took its place.
    void finished(const Entry& entry);
    // The copy is over but its item could not be dealt with (the device went away): the entry
    // stays, now a leftover for the next session or run.
    void released(const Entry& entry);
    // The entries of the given place that no running copy of this process owns: what an earlier
    // run or a lost connection left. An entry stays until finished() is called for it.
    QList<Entry> leftovers(const QString& udid, const QString& bundleID = QString()) const;

    // What a place (a device's media area or container, or the computer) offers for dealing with a
    // leftover. Each may throw; settle() lets it through.
    struct Place {
        std::function<bool(const QString& path)> exists;
        // Renames from onto to unless to is taken; false when it was.
        std::function<bool(const QString& from, const QString& to)> renameUnlessTaken;
        // Removes the item, a folder with everything in it.
        std::function<void(const QString& path)> remove;
    };
    // Deals with one leftover by the rule above: a partial copy goes; an item set aside goes back
    // under its name when that is free, and goes when it is taken. Does not strike it out.
    static void settle(const Entry& entry, const Place& place);

    // All entries, running ones included; for tests and diagnostics.
    QList<Entry> entries() const;

private:
    void load();
    bool ensureFolder();
    // The entries that stand, written anew in place of the log.
    bool rewrite();
    bool append(const Entry& entry, bool gone, bool durable);

    static constexpr qsizetype compactAfterLines = 512;

    const QString m_file;
    mutable QMutex m_mutex;
    QList<Entry> m_entries;
    QList<Entry> m_running;
    // Lines in the file, for knowing when to write it anew.
    qsizetype m_lines = 0;
    bool m_folderMade = false;
};
