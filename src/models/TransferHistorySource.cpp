#include "models/TransferHistorySource.h"

#include "models/JsonObjectReader.h"

#include <QHashFunctions>

#include <limits>

namespace {

const QString urlStringKey = QStringLiteral("urlString");
const QString nameKey = QStringLiteral("name");
const QString isDirectoryKey = QStringLiteral("isDirectory");
const QString sizeKey = QStringLiteral("size");
const QString modifiedDateKey = QStringLiteral("modifiedDate");
const QString kindRawValueKey = QStringLiteral("kindRawValue");
const QString utiIdentifierKey = QStringLiteral("utiIdentifier");

} // namespace

TransferHistorySource::TransferHistorySource(QString urlString, QString name, bool isDirectory, quint64 size,
                                             Date modifiedDate, QString kindRawValue,
                                             std::optional<QString> utiIdentifier)
    : m_urlString(std::move(urlString)), m_name(std::move(name)), m_isDirectory(isDirectory), m_size(size),
      m_modifiedDate(modifiedDate), m_kindRawValue(std::move(kindRawValue)),
      m_utiIdentifier(std::move(utiIdentifier)) {}

TransferHistorySource::TransferHistorySource(const FileItem& item)
    : TransferHistorySource(item.path().absoluteString(), item.name(), item.isDirectory(), item.size(),
                            item.modifiedDate(), item.kind().rawValue(),
                            item.uti() ? std::optional<QString>(item.uti()->identifier()) : std::nullopt) {}

QJsonObject TransferHistorySource::toJson() const {
    // JSON integers are signed 64-bit here; no real file comes near the limit.
    QJsonObject json{
        {urlStringKey, m_urlString},
        {nameKey, m_name},
        {isDirectoryKey, m_isDirectory},
        {sizeKey, static_cast<qint64>(std::min<quint64>(m_size, std::numeric_limits<qint64>::max()))},
        {modifiedDateKey, m_modifiedDate.secondsSinceReferenceDate()},
        {kindRawValueKey, m_kindRawValue},
    };
    if (m_utiIdentifier)
        json.insert(utiIdentifierKey, *m_utiIdentifier);
    return json;
}

TransferHistorySource TransferHistorySource::fromJson(const QJsonValue& json) {
    const JsonObjectReader reader(json, QStringLiteral("A transfer history source"));
    return TransferHistorySource(reader.string(urlStringKey), reader.string(nameKey),
                                 reader.boolean(isDirectoryKey), reader.unsignedInteger(sizeKey),
                                 Date(reader.number(modifiedDateKey)), reader.string(kindRawValueKey),
                                 reader.optionalString(utiIdentifierKey));
}

size_t qHash(const TransferHistorySource& source, size_t seed) {
    return qHashMulti(seed, source.urlString(), source.name(), source.isDirectory(), source.size(),
                      source.modifiedDate(), source.kindRawValue(), source.utiIdentifier().has_value(),
                      source.utiIdentifier().value_or(QString()));
}
