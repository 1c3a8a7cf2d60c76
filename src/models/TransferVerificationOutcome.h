#pragma once

#include <QHashFunctions>
#include <QString>

#include <optional>

// The result of checking one copied file against its source.
class TransferVerificationOutcome {
public:
    enum Value { skipped, verified, mismatch, failed };

    constexpr TransferVerificationOutcome(Value value) : m_value(value) {}

    constexpr Value value() const { return m_value; }
    QString rawValue() const;
    // Exact, case-sensitive; nothing for any other text.
    static std::optional<TransferVerificationOutcome> fromRawValue(const QString& rawValue);

    constexpr bool operator==(const TransferVerificationOutcome&) const = default;

private:
    Value m_value;
};

inline size_t qHash(TransferVerificationOutcome outcome, size_t seed = 0) {
    return qHash(static_cast<int>(outcome.value()), seed);
}
