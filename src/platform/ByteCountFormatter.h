#pragma once

#include <QString>
#include <QtGlobal>

// Sizes as the platform's file browser shows them (its byte-count formatter in the file style,
// en_US): decimal units (1 KB = 1000 bytes), the unit chosen from the exact value, KB without
// decimals, MB with at most one, GB and above with at most two, trailing zeros dropped, thousands
// grouped with ",". "Zero KB" for nothing, "1 byte", "N bytes" below 1000.
//
// Rounding is done on the integer quotient and remainder, halves to even: doubles would miss
// binary halves, and QLocale rounds halves away from zero.
class ByteCountFormatter {
public:
    static QString file(quint64 bytes);
    // A count that is kept signed: a negative one shows as nothing at all ("Zero KB").
    static QString fileFromSigned(qint64 bytes);

    ByteCountFormatter() = delete;
};
