#include "models/TransferReportEntry.h"

#include <QHashFunctions>

TransferReportEntry::TransferReportEntry(QString name, URL sourceURL, URL destinationURL,
                                         quint64 bytesTransferred, Date startedAt, Date completedAt,
                                         TransferVerificationOutcome verificationOutcome,
                                         std::optional<QString> verificationDetail)
    : m_name(std::move(name)), m_sourceURLString(sourceURL.absoluteString()),
      m_destinationURLString(destinationURL.absoluteString()), m_bytesTransferred(bytesTransferred),
      m_startedAt(startedAt), m_completedAt(completedAt), m_verificationOutcome(verificationOutcome),
      m_verificationDetail(std::move(verificationDetail)) {}

TransferReportEntry::TransferReportEntry(const TransferReportEntry& other)
    : m_name(other.m_name), m_sourceURLString(other.m_sourceURLString),
      m_destinationURLString(other.m_destinationURLString), m_bytesTransferred(other.m_bytesTransferred),
      m_startedAt(other.m_startedAt), m_completedAt(other.m_completedAt),
      m_verificationOutcome(other.m_verificationOutcome), m_verificationDetail(other.m_verificationDetail) {
    s_copies.fetch_add(1, std::memory_order_relaxed);
}

TransferReportEntry& TransferReportEntry::operator=(const TransferReportEntry& other) {
    if (this != &other) {
        TransferReportEntry copy(other);
        *this = std::move(copy);
    }
    return *this;
}

namespace {

// The text was a URL's own, so it reads back as the same URL.
URL urlOf(const QString& text) {
    return URL::fromString(text).value_or(URL());
}

} // namespace

URL TransferReportEntry::sourceURL() const {
    return urlOf(m_sourceURLString);
}

URL TransferReportEntry::destinationURL() const {
    return urlOf(m_destinationURLString);
}

quint64 TransferReportEntry::copyCount() {
    return s_copies.load(std::memory_order_relaxed);
}

size_t qHash(const TransferReportEntry& entry, size_t seed) {
    return qHashMulti(seed, entry.name(), entry.sourceURLString(), entry.destinationURLString(),
                      entry.bytesTransferred(), entry.startedAt(), entry.completedAt(),
                      entry.verificationOutcome(), entry.verificationDetail().has_value(),
                      entry.verificationDetail().value_or(QString()));
}
