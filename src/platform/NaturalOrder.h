#pragma once

#include <QString>

// Orders names as people expect, the same on every machine whatever the locale: runs of digits
// compare by value ("file2" before "file10"), other characters case-insensitively. Names equal by
// that rule are then ordered by fewer leading zeros and finally by their exact characters, so
// only identical names compare equal and every sort comes out the same.
// Returns <0, 0 or >0.
int naturalCompare(const QString& a, const QString& b);
bool naturalLess(const QString& a, const QString& b);
