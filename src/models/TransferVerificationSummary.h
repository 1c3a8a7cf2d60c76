#pragma once

#include "models/TransferVerificationOutcome.h"

#include <QHashFunctions>
#include <QJsonObject>
#include <QString>

// The running tally of verification outcomes of one transfer, and its one-line verdict.
struct TransferVerificationSummary {
    bool requested = false;
    qint64 verifiedFiles = 0;
    qint64 mismatchedFiles = 0;
    qint64 failedFiles = 0;
    qint64 skippedFiles = 0;

    void record(TransferVerificationOutcome outcome);

    // Only the gravest finding is named: mismatches hide failures and successes, failures hide
    // successes, skipped files are never mentioned.
    QString summaryText() const;

    QJsonObject toJson() const;
    // Needs all five keys; throws JsonDecodingError otherwise.
    static TransferVerificationSummary fromJson(const QJsonValue& json);

    bool operator==(const TransferVerificationSummary&) const = default;
};

size_t qHash(const TransferVerificationSummary& summary, size_t seed = 0);
