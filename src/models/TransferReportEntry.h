#pragma once

#include "models/TransferVerificationOutcome.h"
#include "platform/Date.h"
#include "platform/URL.h"

#include <QString>

#include <atomic>
#include <optional>

// One copied file of a transfer, as its report lists it. A transfer of a camera roll keeps tens of
// thousands of them until its report is written, so an entry holds its two locations as their
// text (a string each, shared with the URLs it was made from) and makes the URLs when asked.
class TransferReportEntry {
public:
    TransferReportEntry(QString name, URL sourceURL, URL destinationURL, quint64 bytesTransferred,
                        Date startedAt, Date completedAt, TransferVerificationOutcome verificationOutcome,
                        std::optional<QString> verificationDetail);
    TransferReportEntry(const TransferReportEntry& other);
    TransferReportEntry& operator=(const TransferReportEntry& other);
    TransferReportEntry(TransferReportEntry&&) noexcept = default;
    TransferReportEntry& operator=(TransferReportEntry&&) noexcept = default;
    ~TransferReportEntry() = default;

    // How many entries have been copied in this process so far. A transfer of tens of thousands
    // of files must never copy the lines its report already holds for each new file; tests read
    // this to prove it.
    static quint64 copyCount();

    const QString& name() const { return m_name; }
    URL sourceURL() const;
    URL destinationURL() const;
    const QString& sourceURLString() const { return m_sourceURLString; }
    const QString& destinationURLString() const { return m_destinationURLString; }
    quint64 bytesTransferred() const { return m_bytesTransferred; }
    Date startedAt() const { return m_startedAt; }
    Date completedAt() const { return m_completedAt; }
    TransferVerificationOutcome verificationOutcome() const { return m_verificationOutcome; }
    const std::optional<QString>& verificationDetail() const { return m_verificationDetail; }

    bool operator==(const TransferReportEntry&) const = default;

private:
    QString m_name;
    QString m_sourceURLString;
    QString m_destinationURLString;
    quint64 m_bytesTransferred;
    Date m_startedAt;
    Date m_completedAt;
    TransferVerificationOutcome m_verificationOutcome;
    std::optional<QString> m_verificationDetail;

    static inline std::atomic<quint64> s_copies{0};
};

size_t qHash(const TransferReportEntry& entry, size_t seed = 0);
