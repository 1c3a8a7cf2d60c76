#include "platform/UserDefaults.h"

#include "platform/PlatformLog.h"
#include "platform/PropertyList.h"
#include "platform/SaturatedInteger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>

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

UserDefaults::UserDefaults(QString filePath) : m_filePath(std::move(filePath)) {
    load();
}

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
        return;
    }
    setAsideUnreadableFile(QStringLiteral("not a property list of settings"));
}

// The user's settings, favourites and history live in this one file: a file we cannot read is
// kept for the user to rescue, never overwritten by the next save.
void UserDefaults::setAsideUnreadableFile(const QString& reason) {
    const QString aside = m_filePath + QStringLiteral(".unreadable");
    QFile::remove(aside);
    if (QFile::rename(m_filePath, aside)) {
        platformLog().error("Unreadable defaults file %s (%s) moved to %s; starting empty", m_filePath, reason,
                            aside);
        return;
    }
    m_savingBlocked = true;
    platformLog().error("Unreadable defaults file %s (%s) could not be moved aside; changes are kept in "
                        "memory only",
                        m_filePath, reason);
}

void UserDefaults::saveLocked() const {
    if (m_savingBlocked)
        return;
    const std::optional<QByteArray> data = PropertyList::toBinary(m_values);
    if (!data) {
        platformLog().error("Could not encode defaults for %s", m_filePath);
        return;
    }
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(*data) != data->size() || !file.commit())
        platformLog().error("Could not save defaults file %s: %s", m_filePath, file.errorString());
}

std::optional<QVariant> UserDefaults::object(const QString& key) const {
    QMutexLocker lock(&m_mutex);
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
    QMutexLocker lock(&m_mutex);
    m_values.insert(key, *stored);
    saveLocked();
}

void UserDefaults::remove(const QString& key) {
    QMutexLocker lock(&m_mutex);
    if (m_values.remove(key) > 0)
        saveLocked();
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
    QMutexLocker lock(&m_mutex);
    return m_values.keys();
}
