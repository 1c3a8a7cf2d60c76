#include "models/TransferVerificationOutcome.h"

#include "models/RawValueTable.h"

namespace {

constexpr RawValueTable<TransferVerificationOutcome::Value, 4> rawValues{{{
    {TransferVerificationOutcome::skipped, "skipped"},
    {TransferVerificationOutcome::verified, "verified"},
    {TransferVerificationOutcome::mismatch, "mismatch"},
    {TransferVerificationOutcome::failed, "failed"},
}}};

} // namespace

QString TransferVerificationOutcome::rawValue() const {
    return rawValues.rawValue(m_value);
}

std::optional<TransferVerificationOutcome>
TransferVerificationOutcome::fromRawValue(const QString& rawValue) {
    const auto value = rawValues.fromRawValue(rawValue);
    return value ? std::optional<TransferVerificationOutcome>(*value) : std::nullopt;
}
