#pragma once

#include <QtGlobal>

#include <cmath>
#include <limits>

// A double as a qint64, clamped to the range and 0 for NaN: converting a value outside the range
// is undefined behaviour, and stored or logged numbers are not ours to trust.
inline qint64 saturatedInteger(double value) {
    if (std::isnan(value))
        return 0;
    if (value >= 9223372036854775807.0)
        return std::numeric_limits<qint64>::max();
    if (value <= -9223372036854775808.0)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(value);
}
