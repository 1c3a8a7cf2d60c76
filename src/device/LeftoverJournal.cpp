#include "device/LeftoverJournal.h"

#include "platform/Logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString kindText(LeftoverJournal::Kind kind) {
    return kind == LeftoverJournal::Kind::asideItem ? QStringLiteral("aside") : QStringLiteral("partial");
}

QJsonObject toJson(const LeftoverJournal::Entry& entry) {
    QJsonObject object{{QStringLiteral("kind"), kindText(entry.kind)}, {QStringLiteral("path"), entry.path}};
    if (!entry.udid.isEmpty())
        object.insert(QStringLiteral("udid"), entry.udid);
    if (!entry.bundleID.isEmpty())
        object.insert(QStringLiteral("bundleID"), entry.bundleID);
    if (entry.kind == LeftoverJournal::Kind::asideItem)
        object.insert(QStringLiteral("originalPath"), entry.originalPath);
    return object;
}

// One unreadable entry costs only itself. An entry without a path, or an aside one without the
// name to put it back under, could only mislead the clean-up: it is dropped.
std::optional<LeftoverJournal::Entry> fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    LeftoverJournal::Entry entry;
    const QString kind = object.value(QStringLiteral("kind")).toString();
    if (kind == QStringLiteral("aside"))
        entry.kind = LeftoverJournal::Kind::asideItem;
    else if (kind != QStringLiteral("partial"))
        return std::nullopt;
    entry.path = object.value(QStringLiteral("path")).toString();
    entry.udid = object.value(QStringLiteral("udid")).toString();
    entry.bundleID = object.value(QStringLiteral("bundleID")).toString();
    entry.originalPath = object.value(QStringLiteral("originalPath")).toString();
    if (entry.path.isEmpty() || entry.path.contains(QChar(0)) || entry.originalPath.contains(QChar(0)))
        return std::nullopt;
    if (entry.kind == LeftoverJournal::Kind::asideItem && entry.originalPath.isEmpty())
        return std::nullopt;
    return entry;
}

} // namespace

LeftoverJournal::LeftoverJournal(QString file) : m_file(std::move(file)) {
    load();
}

QString LeftoverJournal::defaultFile() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/Orvanta/Leftovers.jsonl");
}

std::shared_ptr<LeftoverJournal> LeftoverJournal::shared(const QString& file) {
    static QMutex registryMutex;
    static QHash<QString, std::weak_ptr<LeftoverJournal>> registry;
    const QString path = file.isEmpty() ? defaultFile() : file;
    QMutexLocker lock(&registryMutex);
    if (auto existing = registry.value(path).lock())
        return existing;
    auto journal = std::make_shared<LeftoverJournal>(path);
    registry.insert(path, journal);
    return journal;
}

// The file is a log, one JSON object a line: an entry added, or (with "gone") struck out. Every
// upload adds and strikes one, so a line appended costs far less than the whole list written
// anew and renamed (which some file systems flush to disk like a sync). The log is written anew,
// holding only what stands, when it has grown long, and when it is opened holding struck-out lines
// beside entries that stand (after a run that did not end cleanly): rare, so the usual opening on
// the main thread reads a short file or none.
void LeftoverJournal::load() {
    QFile file(m_file);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        Logger::filesystem().error("Could not read the list of leftovers %s: %s", m_file, file.errorString());
        return;
    }
    while (!file.atEnd()) {
        // A line cut short by a crash, or one that reads as no entry, costs only itself.
        const QJsonDocument line = QJsonDocument::fromJson(file.readLine());
        ++m_lines;
        const std::optional<Entry> entry = fromJson(line.object());
        if (!entry)
            continue;
        if (line.object().value(QStringLiteral("gone")).toBool())
            m_entries.removeAll(*entry);
        else if (!m_entries.contains(*entry))
            m_entries.append(*entry);
    }
    file.close();
    if (m_entries.isEmpty()) {
        QFile::remove(m_file);
        m_lines = 0;
    } else if (m_lines > m_entries.size()) {
        rewrite();
    }
}

bool LeftoverJournal::ensureFolder() {
    // Made once: every upload appends two lines.
    if (m_folderMade)
        return true;
    m_folderMade = QDir().mkpath(QFileInfo(m_file).absolutePath());
    if (m_folderMade)
        return true;
    Logger::filesystem().error("Could not make the folder of %s", m_file);
    return false;
}

bool LeftoverJournal::rewrite() {
    if (!ensureFolder())
        return false;
    QByteArray text;
    for (const Entry& entry : std::as_const(m_entries))
        text += QJsonDocument(toJson(entry)).toJson(QJsonDocument::Compact) + '\n';
    QSaveFile file(m_file);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        Logger::filesystem().error("Could not write the list of leftovers %s: %s", m_file,
                                   file.errorString());
        return false;
    }
    m_lines = m_entries.size();
    return true;
}

bool LeftoverJournal::append(const Entry& entry, bool gone, bool durable) {
    if (m_lines >= compactAfterLines && m_lines >= 4 * m_entries.size())
        return rewrite();
    if (!ensureFolder())
        return false;
    QJsonObject object = toJson(entry);
    if (gone)
        object.insert(QStringLiteral("gone"), true);
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    const int fd =
        ::open(QFile::encodeName(m_file).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    bool written = fd >= 0 && ::write(fd, line.constData(), size_t(line.size())) == line.size();
    // An item set aside is the user's own data under a hidden name: its entry must survive a
    // power cut. Losing a partial copy's costs at worst a hidden file left on a device.
    if (written && durable)
        written = ::fdatasync(fd) == 0;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!written) {
        Logger::filesystem().error("Could not write the list of leftovers %s (errno %d)", m_file, error);
        return false;
    }
    ++m_lines;
    return true;
}

bool LeftoverJournal::begin(const Entry& entry) {
    QMutexLocker lock(&m_mutex);
    m_running.append(entry);
    if (m_entries.contains(entry))
        return true;
    m_entries.append(entry);
    return append(entry, false, entry.kind == Kind::asideItem);
}

void LeftoverJournal::finished(const Entry& entry) {
    QMutexLocker lock(&m_mutex);
    m_running.removeOne(entry);
    // Another copy may still own the same entry (two tries at one leftover): the file keeps it
    // until the last one lets go.
    if (m_running.contains(entry) || !m_entries.removeAll(entry))
        return;
    append(entry, true, false);
}

void LeftoverJournal::released(const Entry& entry) {
    QMutexLocker lock(&m_mutex);
    m_running.removeOne(entry);
}

void LeftoverJournal::settle(const Entry& entry, const Place& place) {
    if (!place.exists(entry.path))
        return;
    if (entry.kind == Kind::asideItem && place.renameUnlessTaken(entry.path, entry.originalPath)) {
        Logger::filesystem().info("Put back %s, set aside by a copy that did not finish", entry.originalPath);
        return;
    }
    // A partial copy, or an old item whose replacement took its name whole.
    place.remove(entry.path);
    Logger::filesystem().info("Removed %s, left by a copy that did not finish", entry.path);
}

QList<LeftoverJournal::Entry> LeftoverJournal::leftovers(const QString& udid, const QString& bundleID) const {
    QMutexLocker lock(&m_mutex);
    QList<Entry> found;
    for (const Entry& entry : m_entries) {
        if (entry.udid == udid && entry.bundleID == bundleID && !m_running.contains(entry))
            found.append(entry);
    }
    return found;
}

QList<LeftoverJournal::Entry> LeftoverJournal::entries() const {
    QMutexLocker lock(&m_mutex);
    return m_entries;
}
