#include "models/TransferHistoryEntry.h"

#include "models/JsonDecodingError.h"
#include "models/JsonEntryList.h"
#include "models/JsonObjectReader.h"
#include "platform/Logger.h"
#include "platform/UuidText.h"

#include <QHashFunctions>
#include <QJsonDocument>

#include <limits>

namespace {

const QString idKey = QStringLiteral("id");
const QString sourcesKey = QStringLiteral("sources");
const QString destinationURLStringKey = QStringLiteral("destinationURLString");
const QString stateKey = QStringLiteral("state");
const QString startedAtKey = QStringLiteral("startedAt");
const QString completedAtKey = QStringLiteral("completedAt");
const QString totalBytesKey = QStringLiteral("totalBytes");
const QString filesCompletedKey = QStringLiteral("filesCompleted");
const QString totalFilesKey = QStringLiteral("totalFiles");
const QString currentFileKey = QStringLiteral("currentFile");
const QString errorDescriptionKey = QStringLiteral("errorDescription");
const QString reportURLStringKey = QStringLiteral("reportURLString");
const QString verificationSummaryKey = QStringLiteral("verificationSummary");

QList<TransferHistorySource> sourcesOf(const Transfer& transfer) {
    QList<TransferHistorySource> sources;
    sources.reserve(transfer.sources.size());
    for (const FileItem& item : transfer.sources)
        sources.append(TransferHistorySource(item));
    return sources;
}

} // namespace

TransferHistoryEntry::TransferHistoryEntry(QUuid id, QList<TransferHistorySource> sources,
                                           QString destinationURLString, TransferState state, Date startedAt,
                                           std::optional<Date> completedAt, quint64 totalBytes,
                                           qint64 filesCompleted, qint64 totalFiles, QString currentFile,
                                           std::optional<QString> errorDescription,
                                           std::optional<QString> reportURLString,
                                           TransferVerificationSummary verificationSummary)
    : m_id(id), m_sources(std::move(sources)), m_destinationURLString(std::move(destinationURLString)),
      m_state(state), m_startedAt(startedAt), m_completedAt(completedAt), m_totalBytes(totalBytes),
      m_filesCompleted(filesCompleted), m_totalFiles(totalFiles), m_currentFile(std::move(currentFile)),
      m_errorDescription(std::move(errorDescription)), m_reportURLString(std::move(reportURLString)),
      m_verificationSummary(verificationSummary) {}

TransferHistoryEntry::TransferHistoryEntry(const Transfer& transfer)
    : TransferHistoryEntry(
          transfer.id, sourcesOf(transfer), transfer.destination.absoluteString(), transfer.state,
          transfer.startedAt, transfer.completedAt, transfer.progress.totalBytes,
          transfer.progress.filesCompleted, transfer.progress.totalFiles, transfer.progress.currentFile,
          transfer.error ? std::optional<QString>(transfer.error->description()) : std::nullopt,
          transfer.reportURL ? std::optional<QString>(transfer.reportURL->absoluteString()) : std::nullopt,
          transfer.verificationSummary) {}

QJsonObject TransferHistoryEntry::toJson() const {
    QJsonArray sources;
    for (const TransferHistorySource& source : m_sources)
        sources.append(source.toJson());
    QJsonObject json{
        {idKey, uuidString(m_id)},
        {sourcesKey, sources},
        {destinationURLStringKey, m_destinationURLString},
        {stateKey, m_state.rawValue()},
        {startedAtKey, m_startedAt.secondsSinceReferenceDate()},
        {totalBytesKey,
         static_cast<qint64>(std::min<quint64>(m_totalBytes, std::numeric_limits<qint64>::max()))},
        {filesCompletedKey, m_filesCompleted},
        {totalFilesKey, m_totalFiles},
        {currentFileKey, m_currentFile},
        {verificationSummaryKey, m_verificationSummary.toJson()},
    };
    // Absent optionals leave their key out rather than writing null.
    if (m_completedAt)
        json.insert(completedAtKey, m_completedAt->secondsSinceReferenceDate());
    if (m_errorDescription)
        json.insert(errorDescriptionKey, *m_errorDescription);
    if (m_reportURLString)
        json.insert(reportURLStringKey, *m_reportURLString);
    return json;
}

TransferHistoryEntry TransferHistoryEntry::fromJson(const QJsonValue& json) {
    const JsonObjectReader reader(json, QStringLiteral("A transfer history entry"));

    const auto id = uuidFromString(reader.string(idKey));
    if (!id)
        throw JsonDecodingError(QStringLiteral("A transfer history entry has no UUID under \"id\""));

    QList<TransferHistorySource> sources;
    for (const QJsonValue& source : reader.array(sourcesKey))
        sources.append(TransferHistorySource::fromJson(source));

    const QString stateText = reader.string(stateKey);
    const auto state = TransferState::fromRawValue(stateText);
    if (!state)
        throw JsonDecodingError(
            QStringLiteral("A transfer history entry has the unknown state \"%1\"").arg(stateText));

    const auto completedAt = reader.optionalNumber(completedAtKey);
    return TransferHistoryEntry(*id, std::move(sources), reader.string(destinationURLStringKey), *state,
                                Date(reader.number(startedAtKey)),
                                completedAt ? std::optional<Date>(Date(*completedAt)) : std::nullopt,
                                reader.unsignedInteger(totalBytesKey), reader.integer(filesCompletedKey),
                                reader.integer(totalFilesKey), reader.string(currentFileKey),
                                reader.optionalString(errorDescriptionKey),
                                reader.optionalString(reportURLStringKey),
                                TransferVerificationSummary::fromJson(reader.value(verificationSummaryKey)));
}

QByteArray TransferHistoryEntry::encodeList(const QList<TransferHistoryEntry>& entries) {
    return encodeEachEntry(entries);
}

std::optional<QList<TransferHistoryEntry>> TransferHistoryEntry::decodeList(const QByteArray& json) {
    const std::optional<QJsonArray> array = jsonArrayOf(json);
    if (!array)
        return std::nullopt;
    return fromJsonArray(*array);
}

QList<TransferHistoryEntry> TransferHistoryEntry::fromJsonArray(const QJsonArray& array) {
    return decodeEachEntry<TransferHistoryEntry>(array, &TransferHistoryEntry::fromJson, Logger::transfer(),
                                                 "Skipped unreadable transfer history entry %lld: %s");
}

size_t qHash(const TransferHistoryEntry& entry, size_t seed) {
    seed =
        qHashMulti(seed, entry.id(), entry.sources(), entry.destinationURLString(), entry.state(),
                   entry.startedAt(), entry.completedAt().has_value(), entry.completedAt().value_or(Date()),
                   entry.totalBytes(), entry.filesCompleted(), entry.totalFiles(), entry.currentFile());
    return qHashMulti(seed, entry.errorDescription().has_value(),
                      entry.errorDescription().value_or(QString()), entry.reportURLString().has_value(),
                      entry.reportURLString().value_or(QString()), entry.verificationSummary());
}
