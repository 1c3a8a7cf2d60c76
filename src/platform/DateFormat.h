#pragma once

#include "platform/Date.h"

#include <QDate>
#include <QString>

// The dates every view shows, in the local time zone and the platform's en_US forms: a narrow
// no-break space before AM/PM, as the platform renders it. A date that is not known (stored as the
// distant past or earlier) shows "--" rather than a day of the year 1.
class DateFormat {
public:
    // "May 3, 2026 at 2:05 PM" (narrow no-break space before PM).
    static QString mediumShort(const Date& date);
    // "5/3/26, 2:05 PM" (narrow no-break space before PM).
    static QString shortShort(const Date& date);
    // The day folder of an ingest: "2026-05-03".
    static QString dayFolder(const QDate& day);
    static bool isUnknown(const Date& date);

    DateFormat() = delete;
};
