#include "models/TransferState.h"

#include "models/RawValueTable.h"

namespace {

constexpr RawValueTable<TransferState::Value, 6> rawValues{{{
    {TransferState::queued, "queued"},
    {TransferState::active, "active"},
    {TransferState::paused, "paused"},
    {TransferState::completed, "completed"},
    {TransferState::failed, "failed"},
    {TransferState::cancelled, "cancelled"},
}}};

} // namespace

QString TransferState::rawValue() const {
    return rawValues.rawValue(m_value);
}

std::optional<TransferState> TransferState::fromRawValue(const QString& rawValue) {
    const auto value = rawValues.fromRawValue(rawValue);
    return value ? std::optional<TransferState>(*value) : std::nullopt;
}
