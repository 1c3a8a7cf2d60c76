#include "models/TransferVerificationSummary.h"

#include "models/JsonObjectReader.h"

namespace {

const QString requestedKey = QStringLiteral("requested");
const QString verifiedKey = QStringLiteral("verifiedFiles");
const QString mismatchedKey = QStringLiteral("mismatchedFiles");
const QString failedKey = QStringLiteral("failedFiles");
const QString skippedKey = QStringLiteral("skippedFiles");

} // namespace

void TransferVerificationSummary::record(TransferVerificationOutcome outcome) {
    switch (outcome.value()) {
    case TransferVerificationOutcome::skipped:
        ++skippedFiles;
        break;
    case TransferVerificationOutcome::verified:
        ++verifiedFiles;
        break;
    case TransferVerificationOutcome::mismatch:
        ++mismatchedFiles;
        break;
    case TransferVerificationOutcome::failed:
        ++failedFiles;
        break;
    }
}

QString TransferVerificationSummary::summaryText() const {
    if (!requested)
        return QStringLiteral("Not requested");
    if (mismatchedFiles >= 1)
        return QString::number(mismatchedFiles) +
               (mismatchedFiles == 1 ? QStringLiteral(" mismatch") : QStringLiteral(" mismatches"));
    if (failedFiles >= 1)
        return QString::number(failedFiles) + (failedFiles == 1 ? QStringLiteral(" verification failure")
                                                                : QStringLiteral(" verification failures"));
    if (verifiedFiles >= 1)
        return QString::number(verifiedFiles) + QStringLiteral(" verified");
    return QStringLiteral("No verifiable files");
}

QJsonObject TransferVerificationSummary::toJson() const {
    return QJsonObject{
        {requestedKey, requested}, {verifiedKey, verifiedFiles}, {mismatchedKey, mismatchedFiles},
        {failedKey, failedFiles},  {skippedKey, skippedFiles},
    };
}

TransferVerificationSummary TransferVerificationSummary::fromJson(const QJsonValue& json) {
    const JsonObjectReader reader(json, QStringLiteral("The verification summary"));
    TransferVerificationSummary summary;
    summary.requested = reader.boolean(requestedKey);
    summary.verifiedFiles = reader.integer(verifiedKey);
    summary.mismatchedFiles = reader.integer(mismatchedKey);
    summary.failedFiles = reader.integer(failedKey);
    summary.skippedFiles = reader.integer(skippedKey);
    return summary;
}

size_t qHash(const TransferVerificationSummary& summary, size_t seed) {
    return qHashMulti(seed, summary.requested, summary.verifiedFiles, summary.mismatchedFiles,
                      summary.failedFiles, summary.skippedFiles);
}
