#include "platform/Date.h"

#include <chrono>
#include <cmath>

Date Date::now() {
    // system_clock gives sub-millisecond resolution, which QDateTime would drop.
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return fromSecondsSince1970(std::chrono::duration<double>(sinceEpoch).count());
}

Date Date::fromQDateTime(const QDateTime& dateTime) {
    return fromSecondsSince1970(static_cast<double>(dateTime.toMSecsSinceEpoch()) / 1000.0);
}

QDateTime Date::toQDateTime() const {
    const auto msecs = static_cast<qint64>(std::llround(secondsSince1970() * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}
