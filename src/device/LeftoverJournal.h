#pragma once

#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

// What a copy leaves on a disk or a device while it runs: the hidden file it writes before that
// takes its name, an old item set aside under a hidden name while its replacement is made, and a
// folder it made, whose partial copies it covers. Each is written down here before it exists, and
// what happens to it as it happens (for an item set aside: that its replacement is whole, flushed
// and named), so that a crash, a quit or a lost device never leaves one behind for good: the next
// run (for the computer) or the next session of the device puts things right by what the records
// prove (LeftoverCleanup).
//
// Each running instance of the program owns a journal file of its own in the data folder, locked
// for the instance's life: another instance never reads a live one's entries as leftovers, and
// never drops them. The first instance uses the file given; others a sibling with a random
// suffix. Journals whose lock is free (their instance ended, cleanly or not) are taken over: their
// entries become this instance's leftovers, and their files go.
//
// One journal serves a process per file, shared by every thread that copies: each call holds a
// lock and appends its line before it returns (the file is written anew only when it is opened
// and when struck-out lines have piled up). Entries added by this process are running copies' and
// are never handed out as leftovers until released; entries found in files at start are.
class LeftoverJournal {
public:
    enum class Kind { partialCopy, asideItem, newFolder };

    // Which file system a folder of this computer was on: the device number, and the file
    // system's own id (statfs). Zero where unknown (a journal written before these were recorded).
    struct FileSystem {
        quint64 device = 0;
        quint64 id = 0;

        bool isKnown() const { return device != 0 || id != 0; }
        // The same file system by both marks: disks that take turns in one drive or loop device
        // get the same device number, and a disk that comes back under another one may be
        // another disk for all the number says.
        bool matches(const FileSystem& other) const {
            return isKnown() && device == other.device && id == other.id;
        }
    };

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
        // For an aside item: its replacement is whole, flushed and has the name (recordReplaced).
        bool replaced = false;
        // On this computer: the file system the hidden item's folder was on when the entry was
        // made, and that folder's own inode on it (begin fills both in). A mount point without its
        // disk, another disk in its drive, or a folder bound over it, is another folder: the
        // clean-up must not take the item's absence there for an outcome.
        FileSystem folderFileSystem{};
        quint64 folderInode = 0;
        // For a new folder: the mark the names of its transfer's partial copies carry
        // (AFCPath::partialCopyMark), so that its clean-up takes only those and never another
        // copy's that writes into the folder meanwhile. Empty in an entry written before marks,
        // whose copies' names carry none.
        QString mark{};

        // The same item, whatever its records say.
        bool operator==(const Entry& other) const {
            return kind == other.kind && udid == other.udid && bundleID == other.bundleID &&
                   path == other.path && originalPath == other.originalPath && mark == other.mark;
        }
    };

    // The journal of this instance beside file (made on the first entry); what the journals of
    // ended instances hold are leftovers.
    explicit LeftoverJournal(QString file);
    ~LeftoverJournal();
    LeftoverJournal(const LeftoverJournal&) = delete;
    LeftoverJournal& operator=(const LeftoverJournal&) = delete;

    // "<data folder>/Orvanta/Leftovers.jsonl", the data folder being the user's (XDG_DATA_HOME).
    static QString defaultFile();
    // The one journal of the process for file (the default file when empty): two bridges or a
    // bridge and a transfer must see each other's running copies.
    static std::shared_ptr<LeftoverJournal> shared(const QString& file = QString());

    // Writes entry down before the caller makes the item; false (logged) when it could not be
    // stored. The entry is a running copy's until finished(). An item set aside, and a folder
    // made on a device (whose staging folder of partial copies it alone records), are synced to
    // the disk before this returns. Fills in the file system of the folder of an item on this
    // computer.
    bool begin(const Entry& entry);
    // Writes down, and syncs to the disk, that the replacement of an item set aside is whole and
    // has its name: from then on the item set aside is removed, never put back. False (logged)
    // when it could not be stored; the item must then stay.
    bool recordReplaced(const Entry& entry);
    // Strikes entry out: the item is gone, or it took its place.
    void finished(const Entry& entry);
    // The copy is over but its item could not be dealt with (the device went away): the entry
    // stays, now a leftover for the next session or run.
    void released(const Entry& entry);
    // The entries of the given place that no running copy of this process owns: what an earlier
    // run or a lost connection left, journals of ended instances taken over first. An entry stays
    // until finished() is called for it.
    QList<Entry> leftovers(const QString& udid, const QString& bundleID = QString());

    // All entries, running ones included; for tests and diagnostics.
    QList<Entry> entries() const;
    // The file this instance writes.
    QString ownFile() const { return m_file; }

    // The file system the folder is on (and in *inode, when given, the folder's own inode);
    // unknown when it cannot be looked at.
    static FileSystem fileSystemOf(const QString& folder, quint64* inode = nullptr);
    // Whether folder is provably the one the entry's item was in when it was written down: the
    // same folder (inode) of the same file system by both its marks. An entry that recorded less
    // (one written before all of these were) proves nothing.
    static bool isRecordedFolder(const QString& folder, const Entry& entry);
    // The entry as this journal holds it, with what begin() filled in; nothing when it holds no
    // such entry.
    std::optional<Entry> recorded(const Entry& entry) const;

    // Reads a journal's text: the entries that stand, in order. A line that is not an entry of
    // ours costs only itself (logged).
    static QList<Entry> parse(const QByteArray& text);

private:
    enum class Line { added, replaced, gone };

    void claimFile();
    void load();
    // Takes over the journals of ended instances beside this one's.
    void adoptEnded();
    void adopt(const QString& file, int lockFd);
    bool ensureFolder();
    // The entries that stand, written anew in place of the log.
    bool rewrite();
    bool append(const Entry& entry, Line line, bool durable);
    bool openForAppending();

    static constexpr qsizetype compactAfterLines = 512;

    const QString m_base;
    QString m_file;
    int m_lockFd = -1;
    int m_fd = -1;
    mutable QMutex m_mutex;
    QList<Entry> m_entries;
    QList<Entry> m_running;
    // Lines in the file, for knowing when to write it anew.
    qsizetype m_lines = 0;
    bool m_folderMade = false;
};
