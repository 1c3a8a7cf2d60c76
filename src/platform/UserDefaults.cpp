#include "platform/UserDefaults.h"

#include "platform/FileChangeWatcher.h"
#include "platform/PlatformLog.h"
#include "platform/PlistDictionary.h"
#include "platform/PlistParsing.h"
#include "platform/PropertyList.h"
#include "platform/SaturatedInteger.h"
#include "platform/async/MainThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>

#include <plist/plist.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>


namespace {

// What tells one write of the file from another: each write replaces the file by a new one.
std::optional<std::array<qint64, 5>> fileStamp(const QString& path) {
    struct stat facts {};
    if (::stat(QFile::encodeName(path).constData(), &facts) != 0)
        return std::nullopt;
    return std::array<qint64, 5>{qint64(facts.st_dev), qint64(facts.st_ino), qint64(facts.st_ctim.tv_sec),
                                 qint64(facts.st_ctim.tv_nsec), qint64(facts.st_size)};
}

QMutex& standardPathMutex() {
    static QMutex mutex;
    return mutex;
}

QString& standardPathOverride() {
    static QString path;
    return path;
}

bool standardCreated = false;

// Rescued copies of damaged files are numbered up to this; past it the file is left where it is.
constexpr int mostRescuedCopies = 1000;

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// Whether a node holds, at any depth, a type PropertyList does not read (and so leaves out).
bool holdsUnreadType(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN:
    case PLIST_UINT:
    case PLIST_REAL:
    case PLIST_STRING:
    case PLIST_DATA:
        return false;
    case PLIST_ARRAY: {
        const uint32_t size = plist_array_get_size(node);
        for (uint32_t i = 0; i < size; ++i)
            if (holdsUnreadType(plist_array_get_item(node, i)))
                return true;
        return false;
    }
    case PLIST_DICT: {
        bool found = false;
        forEachDictionaryEntry(node, [&found](const char*, plist_t item) {
            found = holdsUnreadType(item);
            return !found;
        });
        return found;
    }
    default:
        return true;
    }
}

PlistPtr plistFromData(const QByteArray& data) {
    return PlistPtr(parsePlist(data));
}

// The top-level values of a settings file that hold something PropertyList leaves out: they are
// kept as they are, so that a later save writes them back instead of dropping them.
QMap<QString, std::shared_ptr<void>> unreadNodes(const QByteArray& data) {
    QMap<QString, std::shared_ptr<void>> kept;
    const PlistPtr root = plistFromData(data);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return kept;
    forEachDictionaryEntry(root.get(), [&kept](const char* key, plist_t item) {
        // A key the file holds twice is the later one's, as in the values read.
        if (holdsUnreadType(item))
            kept.insert(QString::fromUtf8(key), std::shared_ptr<void>(plist_copy(item), PlistFree()));
        else
            kept.remove(QString::fromUtf8(key));
        return true;
    });
    return kept;
}

// The file's bytes: our values through PropertyList, the kept nodes put back beside them.
std::optional<QByteArray> encode(const QVariantMap& values,
                                 const QMap<QString, std::shared_ptr<void>>& kept) {
    std::optional<QByteArray> data = PropertyList::toBinary(values);
    if (!data || kept.isEmpty())
        return data;
    const PlistPtr root = plistFromData(*data);
    if (!root)
        return std::nullopt;
    for (auto it = kept.cbegin(); it != kept.cend(); ++it)
        plist_dict_set_item(root.get(), it.key().toUtf8().constData(), plist_copy(it.value().get()));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &bytes, &length);
    if (!bytes)
        return std::nullopt;
    QByteArray result(bytes, static_cast<qsizetype>(length));
    plist_to_bin_free(bytes);
    return result;
}

// The lock every store of the file takes to read it and write it: held from the descriptor's
// opening to its closing. Without a lock file (a folder we may not write) the store goes on
// unlocked rather than not at all.
class SettingsFileLock {
public:
    explicit SettingsFileLock(const QString& filePath) {
        const QByteArray path = QFile::encodeName(filePath + QStringLiteral(".lock"));
        m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            platformLog().error("Cannot lock the defaults file %s: %s", filePath,
                                QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~SettingsFileLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SettingsFileLock(const SettingsFileLock&) = delete;
    SettingsFileLock& operator=(const SettingsFileLock&) = delete;

private:
    int m_fd = -1;
};

// An integer read from text as Foundation does: leading whitespace, a sign, digits; "12.7" reads
// as 12. Nothing when no digit starts the text.
std::optional<qint64> integerFromText(const QString& text) {
    bool ok = false;
    const qint64 whole = text.trimmed().toLongLong(&ok);
    if (ok)
        return whole;
    const double real = text.trimmed().toDouble(&ok);
    if (ok)
        return saturatedInteger(real);
    return std::nullopt;
}

} // namespace

// How the file was found when read.
struct UserDefaults::FileRead {
    enum class State { missing, readable, unreadable };
    State state = State::missing;
    Contents contents;
    QString problem; // why it is unreadable
};

struct UserDefaults::Observers {
    struct Entry {
        Observer observer;
        std::atomic<bool> active{true};
    };
    std::mutex mutex;
    std::vector<std::shared_ptr<Entry>> entries;
};

namespace {

// Makes `to` hold for the key what `from` holds (nothing included).
template <typename Contents> void copyKey(const Contents& from, Contents& to, const QString& key) {
    if (const auto value = from.values.constFind(key); value != from.values.cend())
        to.values.insert(key, *value);
    else
        to.values.remove(key);
    if (const auto node = from.kept.constFind(key); node != from.kept.cend())
        to.kept.insert(key, *node);
    else
        to.kept.remove(key);
}

template <typename Contents> bool sameEntry(const Contents& a, const Contents& b, const QString& key) {
    const auto valueA = a.values.constFind(key);
    const auto valueB = b.values.constFind(key);
    if ((valueA == a.values.cend()) != (valueB == b.values.cend()))
        return false;
    if (valueA != a.values.cend() && *valueA != *valueB)
        return false;
    const auto nodeA = a.kept.constFind(key);
    const auto nodeB = b.kept.constFind(key);
    if ((nodeA == a.kept.cend()) != (nodeB == b.kept.cend()))
        return false;
    return nodeA == a.kept.cend() || nodeA->get() == nodeB->get() ||
           plist_compare_node_value(nodeA->get(), nodeB->get());
}

} // namespace

UserDefaults::UserDefaults(QString filePath, std::chrono::milliseconds writeDelay)
    : m_filePath(std::move(filePath)), m_writeDelay(writeDelay), m_observers(std::make_shared<Observers>()) {
    // The logger must outlive the standard store, whose destructor may still log at exit; a
    // function-local static made first is destroyed last.
    platformLog();
    // Watching first: a change made between the reading and the watch would go unheard.
    m_watcher = std::make_unique<FileChangeWatcher>(m_filePath, [this] { takeInFile(); });
    load();
}

UserDefaults::~UserDefaults() {
    // No change of another instance is taken in from here on.
    m_watcher.reset();
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wakeWriter.notify_all();
    // The writer writes what is pending before it ends.
    if (m_writer.joinable())
        m_writer.join();
}

// A function-local static rather than an atexit hook: its destructor runs at the normal end of
// the process (return from main or exit()), after the app's objects are gone, and it writes what
// the last changes left pending. The platform layer has no application object to hook into.
UserDefaults& UserDefaults::standard() {
    static UserDefaults instance([] {
        QMutexLocker lock(&standardPathMutex());
        standardCreated = true;
        if (!standardPathOverride().isEmpty())
            return standardPathOverride();
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/Orvanta/defaults.plist");
    }());
    return instance;
}

void UserDefaults::flushStandard(std::chrono::milliseconds limit) {
    {
        QMutexLocker lock(&standardPathMutex());
        if (!standardCreated)
            return;
    }
    if (!standard().flush(limit))
        platformLog().error("The last changes of the settings were not written within %lld ms",
                            static_cast<long long>(limit.count()));
}

void UserDefaults::setStandardFilePathForTesting(QString filePath) {
    QMutexLocker lock(&standardPathMutex());
    if (standardCreated)
        platformLog().error("The standard defaults are in use already; %s is ignored", filePath);
    standardPathOverride() = std::move(filePath);
}

UserDefaults::FileRead UserDefaults::readFile() const {
    FileRead read;
    QFile file(m_filePath);
    if (!file.exists())
        return read;
    if (!file.open(QIODevice::ReadOnly)) {
        read.state = FileRead::State::unreadable;
        read.problem = file.errorString();
        return read;
    }
    const QByteArray data = file.readAll();
    file.close();
    const std::optional<QVariant> root = PropertyList::fromData(data);
    if (root && root->typeId() == QMetaType::QVariantMap) {
        read.state = FileRead::State::readable;
        read.contents = Contents{root->toMap(), unreadNodes(data)};
        return read;
    }
    read.state = FileRead::State::unreadable;
    read.problem = QStringLiteral("not a property list of settings");
    return read;
}

void UserDefaults::load() {
    const std::lock_guard fileLock(m_fileMutex);
    if (!QFileInfo::exists(m_filePath))
        return;
    const SettingsFileLock lock(m_filePath);
    FileRead read = readFile();
    if (read.state == FileRead::State::readable) {
        const std::lock_guard memoryLock(m_mutex);
        m_contents = std::move(read.contents);
    } else if (read.state == FileRead::State::unreadable && !setAsideUnreadableFile(read.problem)) {
        const std::lock_guard memoryLock(m_mutex);
        m_savingBlocked = true;
    }
}

// The user's settings, favourites and history live in this one file: a file we cannot read is
// kept for the user to rescue, never overwritten by the next save, and neither is a copy rescued
// on an earlier day. False when it could not be moved aside.
bool UserDefaults::setAsideUnreadableFile(const QString& reason) const {
    const QString base = m_filePath + QStringLiteral(".unreadable");
    for (int copy = 1; copy <= mostRescuedCopies; ++copy) {
        const QString aside = copy == 1 ? base : base + QStringLiteral("-%1").arg(copy);
        // A dangling link counts as taken: renaming onto it would write where it points.
        if (QFileInfo::exists(aside) || QFileInfo(aside).isSymLink())
            continue;
        if (QFile::rename(m_filePath, aside)) {
            platformLog().error("Unreadable defaults file %s (%s) moved to %s; starting empty", m_filePath,
                                reason, aside);
            return true;
        }
        break;
    }
    platformLog().error("Unreadable defaults file %s (%s) could not be moved aside; changes are kept in "
                        "memory only",
                        m_filePath, reason);
    return false;
}

void UserDefaults::changedLocked(const QString& key) {
    // The writer sleeps for a change only when it has written them all; otherwise it looks again
    // before it sleeps.
    const bool writerIdle = m_changes == m_changesWritten;
    m_changedKeys.insert(key, ++m_changes);
    if (!m_writer.joinable())
        m_writer = std::thread([this] { writeLoop(); });
    else if (writerIdle)
        m_wakeWriter.notify_all();
}

void UserDefaults::writeLoop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wakeWriter.wait(lock, [this] { return m_stopping || m_changes != m_changesWritten; });
        if (m_changes == m_changesWritten)
            return;
        // Let a burst of changes gather into one write, unless someone waits for it.
        m_wakeWriter.wait_for(lock, m_writeDelay, [this] { return m_stopping || m_flushesWaiting > 0; });
        writeChanges(lock);
        m_written.notify_all();
    }
}

// Called and left with the lock on m_mutex held; the file is read and written without it.
void UserDefaults::writeChanges(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    const std::lock_guard fileLock(m_fileMutex);
    lock.lock();
    const quint64 changes = m_changes;
    const QHash<QString, quint64> changed = m_changedKeys;
    const Contents held = m_contents;
    const bool blocked = m_savingBlocked;
    lock.unlock();
    bool blockSaving = false;
    const std::optional<Contents> written =
        blocked ? std::nullopt : mergeIntoFile(held, changed, blockSaving);
    lock.lock();
    m_changesWritten = changes;
    m_savingBlocked = m_savingBlocked || blockSaving;
    if (!written)
        return; // the changes stay to be written with the next
    ++m_fileWrites;
    for (auto it = changed.cbegin(); it != changed.cend(); ++it) {
        // A key changed again meanwhile still waits for its write.
        if (m_changedKeys.value(it.key()) == it.value())
            m_changedKeys.remove(it.key());
    }
    const QSet<QString> heard = takeInLocked(*written);
    lock.unlock();
    notify(heard);
    lock.lock();
}

// Under the lock of the file: what it holds now, with this store's changed keys as this store
// holds them. Written only when it could be read, or held nothing, or was moved aside; in the
// last two cases it gets everything this store holds.
std::optional<UserDefaults::Contents> UserDefaults::mergeIntoFile(const Contents& held,
                                                                  const QHash<QString, quint64>& changed,
                                                                  bool& blockSaving) const {
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    const SettingsFileLock lock(m_filePath);
    FileRead onDisk = readFile();
    Contents merged;
    switch (onDisk.state) {
    case FileRead::State::readable:
        merged = std::move(onDisk.contents);
        for (auto it = changed.cbegin(); it != changed.cend(); ++it)
            copyKey(held, merged, it.key());
        break;
    case FileRead::State::unreadable:
        if (!setAsideUnreadableFile(onDisk.problem)) {
            blockSaving = true;
            return std::nullopt;
        }
        merged = held;
        break;
    case FileRead::State::missing:
        merged = held;
        break;
    }
    if (!writeFile(merged))
        return std::nullopt;
    m_lastWritten = fileStamp(m_filePath);
    return merged;
}

bool UserDefaults::writeFile(const Contents& contents) const {
    const std::optional<QByteArray> data = encode(contents.values, contents.kept);
    if (!data) {
        platformLog().error("Could not encode defaults for %s", m_filePath);
        return false;
    }
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(*data) != data->size() || !file.commit()) {
        platformLog().error("Could not save defaults file %s: %s", m_filePath, file.errorString());
        return false;
    }
    return true;
}

// Every key this store has no change of its own waiting for becomes what the file holds; the
// keys whose values that changed.
QSet<QString> UserDefaults::takeInLocked(const Contents& file) {
    QSet<QString> keys;
    for (const QVariantMap* values :
         std::initializer_list<const QVariantMap*>{&m_contents.values, &file.values})
        for (auto it = values->cbegin(); it != values->cend(); ++it)
            keys.insert(it.key());
    for (const QMap<QString, KeptNode>* kept :
         std::initializer_list<const QMap<QString, KeptNode>*>{&m_contents.kept, &file.kept})
        for (auto it = kept->cbegin(); it != kept->cend(); ++it)
            keys.insert(it.key());
    QSet<QString> changed;
    for (const QString& key : std::as_const(keys)) {
        if (m_changedKeys.contains(key) || sameEntry(m_contents, file, key))
            continue;
        copyKey(file, m_contents, key);
        changed.insert(key);
    }
    return changed;
}

// The file changed: another instance wrote it (or this store did). A file found missing or
// unreadable changes nothing here; the next write deals with it.
void UserDefaults::takeInFile() {
    QSet<QString> heard;
    {
        const std::lock_guard fileLock(m_fileMutex);
        // This store's own write, seen by the watcher: nothing in it to take in.
        if (m_lastWritten && fileStamp(m_filePath) == m_lastWritten)
            return;
        // The file is only ever replaced whole, so it reads whole without the lock of the file.
        FileRead onDisk = readFile();
        if (onDisk.state != FileRead::State::readable)
            return;
        const std::lock_guard lock(m_mutex);
        heard = takeInLocked(onDisk.contents);
    }
    notify(heard);
}

Subscription UserDefaults::observe(Observer observer) {
    auto entry = std::make_shared<Observers::Entry>();
    entry->observer = std::move(observer);
    {
        const std::lock_guard lock(m_observers->mutex);
        m_observers->entries.push_back(entry);
    }
    return Subscription([weakObservers = std::weak_ptr<Observers>(m_observers), entry] {
        entry->active = false;
        if (const auto observers = weakObservers.lock()) {
            const std::lock_guard lock(observers->mutex);
            std::erase(observers->entries, entry);
        }
    });
}

void UserDefaults::notify(const QSet<QString>& keys) const {
    if (keys.isEmpty())
        return;
    std::vector<std::shared_ptr<Observers::Entry>> entries;
    {
        const std::lock_guard lock(m_observers->mutex);
        entries = m_observers->entries;
    }
    for (const auto& entry : entries) {
        async::postToMain([weakEntry = std::weak_ptr<Observers::Entry>(entry), keys] {
            const auto entry = weakEntry.lock();
            if (entry && entry->active)
                entry->observer(keys);
        });
    }
}

void UserDefaults::flush() {
    // For as long as it takes; the writer is woken at once either way.
    while (!flush(std::chrono::hours(1))) {
    }
}

bool UserDefaults::flush(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    const quint64 target = m_changes;
    if (m_changesWritten >= target)
        return true;
    ++m_flushesWaiting;
    m_wakeWriter.notify_all();
    const bool written = m_written.wait_for(lock, limit, [&] { return m_changesWritten >= target; });
    --m_flushesWaiting;
    return written;
}

int UserDefaults::fileWrites() const {
    const std::lock_guard lock(m_mutex);
    return m_fileWrites;
}

std::optional<QVariant> UserDefaults::object(const QString& key) const {
    const std::lock_guard lock(m_mutex);
    const auto it = m_contents.values.constFind(key);
    if (it == m_contents.values.cend())
        return std::nullopt;
    return *it;
}

void UserDefaults::set(const QString& key, const QVariant& value) {
    if (!value.isValid()) {
        remove(key);
        return;
    }
    // Stored as it will read back from the file, so a value does not change type on reload.
    const std::optional<QVariant> stored = PropertyList::normalized(value);
    if (!stored) {
        platformLog().error("Defaults value for %s has a type that cannot be stored: %s", key,
                            value.metaType().name());
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_contents.values.insert(key, *stored);
        m_contents.kept.remove(key);
        changedLocked(key);
    }
    notify({key});
}

void UserDefaults::remove(const QString& key) {
    {
        const std::lock_guard lock(m_mutex);
        const bool removedValue = m_contents.values.remove(key) > 0;
        const bool removedKept = m_contents.kept.remove(key) > 0;
        if (!removedValue && !removedKept)
            return;
        changedLocked(key);
    }
    notify({key});
}

bool UserDefaults::boolForKey(const QString& key) const {
    const std::optional<QVariant> value = object(key);
    if (!value)
        return false;
    switch (value->typeId()) {
    case QMetaType::Bool:
        return value->toBool();
    case QMetaType::LongLong:
        return value->toLongLong() != 0;
    case QMetaType::Double:
        return value->toDouble() != 0.0;
    case QMetaType::QString: {
        const QString text = value->toString().trimmed();
        if (text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0 ||
            text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        return integerFromText(text).value_or(0) != 0;
    }
    default:
        return false;
    }
}

qint64 UserDefaults::integerForKey(const QString& key) const {
    const std::optional<QVariant> value = object(key);
    if (!value)
        return 0;
    switch (value->typeId()) {
    case QMetaType::Bool:
        return value->toBool() ? 1 : 0;
    case QMetaType::LongLong:
        return value->toLongLong();
    case QMetaType::Double:
        return saturatedInteger(value->toDouble());
    case QMetaType::QString:
        return integerFromText(value->toString()).value_or(0);
    default:
        return 0;
    }
}

std::optional<QByteArray> UserDefaults::dataForKey(const QString& key) const {
    const std::optional<QVariant> value = object(key);
    if (!value || value->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value->toByteArray();
}

std::optional<QVariantList> UserDefaults::arrayForKey(const QString& key) const {
    const std::optional<QVariant> value = object(key);
    if (!value || value->typeId() != QMetaType::QVariantList)
        return std::nullopt;
    return value->toList();
}

std::optional<QString> UserDefaults::stringForKey(const QString& key) const {
    const std::optional<QVariant> value = object(key);
    if (!value || value->typeId() != QMetaType::QString)
        return std::nullopt;
    return value->toString();
}

QStringList UserDefaults::keys() const {
    const std::lock_guard lock(m_mutex);
    QStringList keys = m_contents.values.keys();
    for (auto it = m_contents.kept.cbegin(); it != m_contents.kept.cend(); ++it)
        if (!m_contents.values.contains(it.key()))
            keys.append(it.key());
    keys.sort();
    return keys;
}
