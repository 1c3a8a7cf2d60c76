#include "device/LeftoverJournal.h"

#include "platform/Logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>


namespace {

QString kindText(LeftoverJournal::Kind kind) {
    return kind == LeftoverJournal::Kind::asideItem ? QStringLiteral("aside") : QStringLiteral("partial");
}

QJsonObject toJson(const LeftoverJournal::Entry& entry) {
    QJsonObject object{{QStringLiteral("kind"), kindText(entry.kind)},
                       {QStringLiteral("path"), entry.path}};
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
    return base + QStringLiteral("/Orvanta/Leftovers.json");
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

void LeftoverJournal::load() {
    QFile file(m_file);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        Logger::filesystem().error("Could not read the list of leftovers %s: %s", m_file, file.errorString());
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    for (const QJsonValue& value : document.array()) {
        if (auto entry = fromJson(value); entry && !m_entries.contains(*entry))
            m_entries.append(*entry);
    }
}

bool LeftoverJournal::save() {
    if (!QDir().mkpath(QFileInfo(m_file).absolutePath())) {
        Logger::filesystem().error("Could not make the folder of %s", m_file);
        return false;
    }
    QJsonArray array;
    for (const Entry& entry : std::as_const(m_entries))
        array.append(toJson(entry));
    QSaveFile file(m_file);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(array).toJson(QJsonDocument::Compact)) < 0 || !file.commit()) {
        Logger::filesystem().error("Could not write the list of leftovers %s: %s", m_file, file.errorString());
        return false;
    }
    return true;
}

bool LeftoverJournal::begin(const Entry& entry) {
    QMutexLocker lock(&m_mutex);
    m_running.append(entry);
    if (m_entries.contains(entry))
        return true;
    m_entries.append(entry);
    return save();
}

void LeftoverJournal::finished(const Entry& entry) {
    QMutexLocker lock(&m_mutex);
    m_running.removeOne(entry);
    // Another copy may still own the same entry (two tries at one leftover): the file keeps it
    // until the last one lets go.
    if (m_running.contains(entry) || !m_entries.removeAll(entry))
        return;
    save();
}

void LeftoverJournal::released(const Entry& entry) {
    QMutexLocker lock(&m_mutex);
    m_running.removeOne(entry);
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
