#pragma once

#include "models/Transfer.h"
#include "models/TransferHistorySource.h"
#include "models/TransferState.h"
#include "models/TransferVerificationSummary.h"
#include "platform/Date.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// The persisted record of a finished transfer: what the Transfer Center shows and what a retry
// needs, kept as JSON in the user's defaults.
class TransferHistoryEntry {
public:
    TransferHistoryEntry(QUuid id, QList<TransferHistorySource> sources, QString destinationURLString,
                         TransferState state, Date startedAt, std::optional<Date> completedAt,
                         quint64 totalBytes, qint64 filesCompleted, qint64 totalFiles, QString currentFile,
                         std::optional<QString> errorDescription, std::optional<QString> reportURLString,
                         TransferVerificationSummary verificationSummary);
    // Keeps the planned byte total, not the bytes copied; speed and report entries are dropped.
    explicit TransferHistoryEntry(const Transfer& transfer);

    const QUuid& id() const { return m_id; }
    const QList<TransferHistorySource>& sources() const { return m_sources; }
    const QString& destinationURLString() const { return m_destinationURLString; }
    TransferState state() const { return m_state; }
    Date startedAt() const { return m_startedAt; }
    const std::optional<Date>& completedAt() const { return m_completedAt; }
    quint64 totalBytes() const { return m_totalBytes; }
    qint64 filesCompleted() const { return m_filesCompleted; }
    qint64 totalFiles() const { return m_totalFiles; }
    const QString& currentFile() const { return m_currentFile; }
    const std::optional<QString>& errorDescription() const { return m_errorDescription; }
    const std::optional<QString>& reportURLString() const { return m_reportURLString; }
    const TransferVerificationSummary& verificationSummary() const { return m_verificationSummary; }
    // The same entry naming its report, once the report is written.
    TransferHistoryEntry withReportURLString(QString reportURLString) const {
        TransferHistoryEntry entry = *this;
        entry.m_reportURLString = std::move(reportURLString);
        return entry;
    }

    QJsonObject toJson() const;
    // Throws JsonDecodingError when a required key is missing or of the wrong type.
    static TransferHistoryEntry fromJson(const QJsonValue& json);

    // The whole stored history: compact JSON of an array of entries, in list order.
    static QByteArray encodeList(const QList<TransferHistoryEntry>& entries);
    // Nothing when the data is not a JSON array at all. Otherwise every readable entry, in order:
    // an unreadable one is logged and left out, so one bad record cannot cost the whole history.
    static std::optional<QList<TransferHistoryEntry>> decodeList(const QByteArray& json);
    static QList<TransferHistoryEntry> fromJsonArray(const QJsonArray& array);

    bool operator==(const TransferHistoryEntry&) const = default;

private:
    QUuid m_id;
    QList<TransferHistorySource> m_sources;
    QString m_destinationURLString;
    TransferState m_state;
    Date m_startedAt;
    std::optional<Date> m_completedAt;
    quint64 m_totalBytes;
    qint64 m_filesCompleted;
    qint64 m_totalFiles;
    QString m_currentFile;
    std::optional<QString> m_errorDescription;
    std::optional<QString> m_reportURLString;
    TransferVerificationSummary m_verificationSummary;
};

size_t qHash(const TransferHistoryEntry& entry, size_t seed = 0);
