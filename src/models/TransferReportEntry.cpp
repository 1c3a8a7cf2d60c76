#include "models/TransferReportEntry.h"

#include <QHashFunctions>

TransferReportEntry::TransferReportEntry(QString name, URL sourceURL, URL destinationURL,
                                         quint64 bytesTransferred, Date startedAt, Date completedAt,
                                         TransferVerificationOutcome verificationOutcome,
                                         std::optional<QString> verificationDetail)
    : m_name(std::move(name)), m_sourceURL(std::move(sourceURL)), m_destinationURL(std::move(destinationURL)),
      m_bytesTransferred(bytesTransferred), m_startedAt(startedAt), m_completedAt(completedAt),
      m_verificationOutcome(verificationOutcome), m_verificationDetail(std::move(verificationDetail)) {}

size_t qHash(const TransferReportEntry& entry, size_t seed) {
    return qHashMulti(seed, entry.name(), entry.sourceURL(), entry.destinationURL(), entry.bytesTransferred(),
                      entry.startedAt(), entry.completedAt(), entry.verificationOutcome(),
                      entry.verificationDetail().has_value(), entry.verificationDetail().value_or(QString()));
}
