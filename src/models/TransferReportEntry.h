#pragma once

#include "models/TransferVerificationOutcome.h"
#include "platform/Date.h"
#include "platform/URL.h"

#include <QString>

#include <optional>

// One copied file of a transfer, as its report lists it.
class TransferReportEntry {
public:
    TransferReportEntry(QString name, URL sourceURL, URL destinationURL, quint64 bytesTransferred,
                        Date startedAt, Date completedAt, TransferVerificationOutcome verificationOutcome,
                        std::optional<QString> verificationDetail);

    const QString& name() const { return m_name; }
    const URL& sourceURL() const { return m_sourceURL; }
    const URL& destinationURL() const { return m_destinationURL; }
    quint64 bytesTransferred() const { return m_bytesTransferred; }
    Date startedAt() const { return m_startedAt; }
    Date completedAt() const { return m_completedAt; }
    TransferVerificationOutcome verificationOutcome() const { return m_verificationOutcome; }
    const std::optional<QString>& verificationDetail() const { return m_verificationDetail; }

    bool operator==(const TransferReportEntry&) const = default;

private:
    QString m_name;
    URL m_sourceURL;
    URL m_destinationURL;
    quint64 m_bytesTransferred;
    Date m_startedAt;
    Date m_completedAt;
    TransferVerificationOutcome m_verificationOutcome;
    std::optional<QString> m_verificationDetail;
};

size_t qHash(const TransferReportEntry& entry, size_t seed = 0);
