#pragma once

#include <QDateTime>
#include <QHashFunctions>

#include <compare>

// A point in time as Foundation's Date stores it: seconds since 2001-01-01 00:00:00 UTC, with
// fraction. JSON records write this very number, so it must not be rounded through QDateTime's
// milliseconds on its way to and from storage.
class Date {
public:
    // Seconds from 1970-01-01 to 2001-01-01.
    static constexpr double referenceDateOffsetFrom1970 = 978307200.0;

    Date() = default;
    explicit Date(double secondsSinceReferenceDate) : m_seconds(secondsSinceReferenceDate) {}

    static Date now();
    // Foundation's distantPast: 0001-01-01 00:00:00 UTC in the Julian calendar.
    static Date distantPast() { return Date(-63114076800.0); }
    static Date fromSecondsSince1970(double seconds) { return Date(seconds - referenceDateOffsetFrom1970); }
    static Date fromQDateTime(const QDateTime& dateTime);

    double secondsSinceReferenceDate() const { return m_seconds; }
    double secondsSince1970() const { return m_seconds + referenceDateOffsetFrom1970; }
    // In UTC, to the millisecond.
    QDateTime toQDateTime() const;

    auto operator<=>(const Date&) const = default;
    bool operator==(const Date&) const = default;

private:
    double m_seconds = 0.0;
};

inline size_t qHash(const Date& date, size_t seed = 0) noexcept {
    return qHash(date.secondsSinceReferenceDate(), seed);
}
