#pragma once

#include <QHashFunctions>
#include <QString>

#include <optional>

// Where a transfer stands. Stored in the history by its raw value.
class TransferState {
public:
    enum Value { queued, active, paused, completed, failed, cancelled };

    constexpr TransferState(Value value) : m_value(value) {}

    constexpr Value value() const { return m_value; }
    QString rawValue() const;
    // Exact, case-sensitive; nothing for any other text.
    static std::optional<TransferState> fromRawValue(const QString& rawValue);

    constexpr bool operator==(const TransferState&) const = default;

private:
    Value m_value;
};

inline size_t qHash(TransferState state, size_t seed = 0) {
    return qHash(static_cast<int>(state.value()), seed);
}
