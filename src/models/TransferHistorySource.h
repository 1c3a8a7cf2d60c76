#pragma once

#include "models/FileItem.h"
#include "platform/Date.h"

#include <QJsonObject>
#include <QString>

#include <optional>

// The persisted form of one source item of a finished transfer: enough to show it and to
// retry the transfer, without turning it back into a FileItem.
class TransferHistorySource {
public:
    TransferHistorySource(QString urlString, QString name, bool isDirectory, quint64 size, Date modifiedDate,
                          QString kindRawValue, std::optional<QString> utiIdentifier);
    explicit TransferHistorySource(const FileItem& item);

    const QString& urlString() const { return m_urlString; }
    const QString& name() const { return m_name; }
    bool isDirectory() const { return m_isDirectory; }
    quint64 size() const { return m_size; }
    Date modifiedDate() const { return m_modifiedDate; }
    const QString& kindRawValue() const { return m_kindRawValue; }
    const std::optional<QString>& utiIdentifier() const { return m_utiIdentifier; }

    QJsonObject toJson() const;
    // Throws JsonDecodingError when a required key is missing or of the wrong type.
    static TransferHistorySource fromJson(const QJsonValue& json);

    bool operator==(const TransferHistorySource&) const = default;

private:
    QString m_urlString;
    QString m_name;
    bool m_isDirectory;
    quint64 m_size;
    Date m_modifiedDate;
    QString m_kindRawValue;
    std::optional<QString> m_utiIdentifier;
};

size_t qHash(const TransferHistorySource& source, size_t seed = 0);
