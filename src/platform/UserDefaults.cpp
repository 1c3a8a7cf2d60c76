#include "platform/UserDefaults.h"

#include "platform/PlatformLog.h"
#include "platform/PlistDictionary.h"
#include "platform/PlistParsing.h"
#include "platform/PropertyList.h"
#include "platform/SaturatedInteger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>

#include <plist/plist.h>

#include <cstdlib>

namespace {

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

UserDefaults::UserDefaults(QString filePath, std::chrono::milliseconds writeDelay)
    : m_filePath(std::move(filePath)), m_writeDelay(writeDelay) {
    // The logger must outlive the standard store, whose destructor may still log at exit; a
    // function-local static made first is destroyed last.
    platformLog();
    load();
}

UserDefaults::~UserDefaults() {
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

void UserDefaults::setStandardFilePathForTesting(QString filePath) {
    QMutexLocker lock(&standardPathMutex());
    if (standardCreated)
        platformLog().error("The standard defaults are in use already; %s is ignored", filePath);
    standardPathOverride() = std::move(filePath);
}

void UserDefaults::load() {
    QFile file(m_filePath);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        setAsideUnreadableFile(file.errorString());
        return;
    }
    const QByteArray data = file.readAll();
    file.close();
    const std::optional<QVariant> root = PropertyList::fromData(data);
    if (root && root->typeId() == QMetaType::QVariantMap) {
        m_values = root->toMap();
        m_keptNodes = unreadNodes(data);
        return;
    }
    setAsideUnreadableFile(QStringLiteral("not a property list of settings"));
}

// The user's settings, favourites and history live in this one file: a file we cannot read is
// kept for the user to rescue, never overwritten by the next save, and neither is a copy rescued
// on an earlier day.
void UserDefaults::setAsideUnreadableFile(const QString& reason) {
    const QString base = m_filePath + QStringLiteral(".unreadable");
    for (int copy = 1; copy <= mostRescuedCopies; ++copy) {
        const QString aside = copy == 1 ? base : base + QStringLiteral("-%1").arg(copy);
        // A dangling link counts as taken: renaming onto it would write where it points.
        if (QFileInfo::exists(aside) || QFileInfo(aside).isSymLink())
            continue;
        if (QFile::rename(m_filePath, aside)) {
            platformLog().error("Unreadable defaults file %s (%s) moved to %s; starting empty", m_filePath,
                                reason, aside);
            return;
        }
        break;
    }
    m_savingBlocked = true;
    platformLog().error("Unreadable defaults file %s (%s) could not be moved aside; changes are kept in "
                        "memory only",
                        m_filePath, reason);
}

void UserDefaults::changedLocked() {
    // The writer sleeps for a change only when it has written them all; otherwise it looks again
    // before it sleeps.
    const bool writerIdle = m_changes == m_changesWritten;
    ++m_changes;
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
        const quint64 changes = m_changes;
        const QVariantMap values = m_values;
        const QMap<QString, KeptNode> kept = m_keptNodes;
        const bool blocked = m_savingBlocked;
        lock.unlock();
        const bool wrote = !blocked && writeFile(values, kept);
        lock.lock();
        if (wrote)
            ++m_fileWrites;
        m_changesWritten = changes;
        m_written.notify_all();
    }
}

bool UserDefaults::writeFile(const QVariantMap& values, const QMap<QString, KeptNode>& kept) const {
    const std::optional<QByteArray> data = encode(values, kept);
    if (!data) {
        platformLog().error("Could not encode defaults for %s", m_filePath);
        return false;
    }
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(*data) != data->size() || !file.commit()) {
        platformLog().error("Could not save defaults file %s: %s", m_filePath, file.errorString());
        return false;
    }
    return true;
}

void UserDefaults::flush() {
    std::unique_lock lock(m_mutex);
    const quint64 target = m_changes;
    if (m_changesWritten >= target)
        return;
    ++m_flushesWaiting;
    m_wakeWriter.notify_all();
    m_written.wait(lock, [&] { return m_changesWritten >= target; });
    --m_flushesWaiting;
}

int UserDefaults::fileWrites() const {
    const std::lock_guard lock(m_mutex);
    return m_fileWrites;
}

std::optional<QVariant> UserDefaults::object(const QString& key) const {
    const std::lock_guard lock(m_mutex);
    const auto it = m_values.constFind(key);
    if (it == m_values.cend())
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
    const std::lock_guard lock(m_mutex);
    m_values.insert(key, *stored);
    m_keptNodes.remove(key);
    changedLocked();
}

void UserDefaults::remove(const QString& key) {
    const std::lock_guard lock(m_mutex);
    const bool removedValue = m_values.remove(key) > 0;
    const bool removedKept = m_keptNodes.remove(key) > 0;
    if (removedValue || removedKept)
        changedLocked();
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
    QStringList keys = m_values.keys();
    for (auto it = m_keptNodes.cbegin(); it != m_keptNodes.cend(); ++it)
        if (!m_values.contains(it.key()))
            keys.append(it.key());
    keys.sort();
    return keys;
}
