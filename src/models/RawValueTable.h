#pragma once

#include <QLatin1StringView>
#include <QString>

#include <array>
#include <cstddef>
#include <optional>
#include <utility>

// The stored names of an enumeration's cases, both ways. Shared by the enumerations that are
// persisted by name, so that each one only lists its names.
template <class Value, std::size_t Count> class RawValueTable {
public:
    using Entry = std::pair<Value, const char*>;

    constexpr explicit RawValueTable(std::array<Entry, Count> entries) : m_entries(entries) {}

    QString rawValue(Value value) const {
        for (const auto& [candidate, text] : m_entries) {
            if (candidate == value)
                return QString::fromLatin1(text);
        }
        return {};
    }

    // Exact, case-sensitive match; nothing for any other text.
    std::optional<Value> fromRawValue(const QString& rawValue) const {
        for (const auto& [value, text] : m_entries) {
            if (rawValue == QLatin1StringView(text))
                return value;
        }
        return std::nullopt;
    }

private:
    std::array<Entry, Count> m_entries;
};
