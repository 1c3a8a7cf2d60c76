#pragma once

#include "platform/Subscription.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <chrono>
#include <array>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class FileChangeWatcher;

// The user's settings and the app's small lists, as Foundation's UserDefaults keeps them: a
// type-preserving key-value store, held in memory and written as a binary plist. Memory is the
// truth: a read sees every change at once. The file is written by a thread of the store's own a
// moment after a change, so a burst of changes costs one write and no caller waits for the disk.
// The write goes through QSaveFile, so a crash mid-write leaves the previous file intact.
//
// Two running instances of the app share the file. A write therefore carries only the keys this
// store changed (set or removed) since its last write, onto what the file holds at that moment:
// read again under a lock ("<file>.lock", flock) that every store takes for its read and write,
// so that neither loses the other's changes. What the file holds for the other keys, another
// instance's changes among them, is taken in after each write and whenever the file changes
// (a watch on its folder), and observers hear of it.
//
// Values are bool, qint64, double, QString, QByteArray, QVariantList and QVariantMap, nested;
// other integer types are stored as qint64, QStringList as a list of strings. A value the file
// holds in a type we do not read (a date, a UID, or a container with one inside) is written back
// exactly as it came until its key is set or removed; object() gives the readable part of such a
// container, and nothing for such a date or UID. Thread-safe.
class UserDefaults {
public:
    // How long the writer lets changes gather before it writes them.
    static constexpr std::chrono::milliseconds defaultWriteDelay{200};

    // Loads the file. A missing file starts empty; an unreadable one is logged, moved aside to
    // "<file>.unreadable" ("<file>.unreadable-2", -3, … when earlier rescued copies are there), so
    // the next save cannot destroy what it held, and starts empty. A file found damaged by a later
    // write is moved aside the same way, and the write then holds what this store holds.
    explicit UserDefaults(QString filePath, std::chrono::milliseconds writeDelay = defaultWriteDelay);
    // Writes what is still pending.
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The app's store: "<XDG config>/Orvanta/defaults.plist", unless a test set another file
    // before the first use. It lives to the end of the process and writes its last changes then.
    static UserDefaults& standard();
    static void setStandardFilePathForTesting(QString filePath);
    // Writes the standard store's pending changes, when it was made: for an end of the process
    // that skips the statics' destructors (quick_exit), where its own last write never comes.
    // Waits at most limit: the settings may be on the very share that stopped answering.
    static void flushStandard(std::chrono::milliseconds limit);

    QString filePath() const { return m_filePath; }

    std::optional<QVariant> object(const QString& key) const;
    // An invalid QVariant removes the key; a value of a type a plist cannot hold is logged and
    // not stored.
    void set(const QString& key, const QVariant& value);
    void remove(const QString& key);

    // Foundation's readings: bool as is, a number when not 0, the text "YES"/"true" (any case) or
    // a non-zero integer text; false otherwise.
    bool boolForKey(const QString& key) const;
    // A number (truncated), a numeric text, a bool as 0/1; 0 otherwise.
    qint64 integerForKey(const QString& key) const;
    // These give a value only when it is stored with that very type.
    std::optional<QByteArray> dataForKey(const QString& key) const;
    std::optional<QVariantList> arrayForKey(const QString& key) const;
    std::optional<QString> stringForKey(const QString& key) const;
    // Every key, those of values kept unread included.
    QStringList keys() const;

    // Returns once every change made before the call is in the file (or its write failed, which
    // is logged).
    void flush();
    // As flush(), waiting at most limit; whether those changes are in the file.
    bool flush(std::chrono::milliseconds limit);
    // How many times this store wrote its file, so that tests can see changes gather.
    int fileWrites() const;

    // Calls the observer on the main thread with the keys whose values changed: by set() and
    // remove() of this store, or in the file by another instance. Each change is heard once,
    // after it took effect (a later call may gather several); a key set to the value it held
    // is heard too. The observation lasts as long as the Subscription.
    using Observer = std::function<void(const QSet<QString>& keys)>;
    [[nodiscard]] Subscription observe(Observer observer);

private:
    // A plist node of a type we do not read, kept to be written back (a libplist plist_t).
    using KeptNode = std::shared_ptr<void>;
    // What the store or its file holds. A key may be in both maps: its readable part is in
    // values, the whole of it, written back, in kept.
    struct Contents {
        QVariantMap values;
        QMap<QString, KeptNode> kept;
    };
    struct FileRead;
    struct Observers;

    FileRead readFile() const;
    void load();
    bool setAsideUnreadableFile(const QString& reason) const;
    void changedLocked(const QString& key);
    void writeLoop();
    void writeChanges(std::unique_lock<std::mutex>& lock);
    std::optional<Contents> mergeIntoFile(const Contents& held, const QHash<QString, quint64>& changed,
                                          bool& blockSaving) const;
    bool writeFile(const Contents& contents) const;
    QSet<QString> takeInLocked(const Contents& file);
    void takeInFile();
    void notify(const QSet<QString>& keys) const;

    const QString m_filePath;
    const std::chrono::milliseconds m_writeDelay;
    // Held from reading the file to taking in what it held, so that this store's write and its
    // taking in of another's never interleave.
    std::mutex m_fileMutex;
    mutable std::mutex m_mutex;
    std::condition_variable m_wakeWriter; // a change, a flush waiting, or the end
    std::condition_variable m_written;
    Contents m_contents;
    bool m_savingBlocked = false;
    // Changes are counted; the writer records how many the file holds.
    quint64 m_changes = 0;
    quint64 m_changesWritten = 0;
    // The keys changed here and not yet written, each with the count of its last change.
    QHash<QString, quint64> m_changedKeys;
    int m_flushesWaiting = 0;
    int m_fileWrites = 0;
    bool m_stopping = false;
    std::shared_ptr<Observers> m_observers;
    std::thread m_writer; // started by the first change
    std::unique_ptr<FileChangeWatcher> m_watcher; // started before the file is first read
    // The file as this store last wrote it (device, inode, change time, size), under m_fileMutex:
    // the change that write itself makes is not read back.
    mutable std::optional<std::array<qint64, 5>> m_lastWritten;
};
