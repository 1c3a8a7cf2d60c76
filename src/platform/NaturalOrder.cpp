#include "platform/NaturalOrder.h"

#include "platform/AsciiCharacters.h"

namespace {

int sign(qsizetype value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

} // namespace

int naturalCompare(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    int zerosTieBreak = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i].unicode()) && isAsciiDigit(b[j].unicode())) {
            qsizetype startA = i;
            qsizetype startB = j;
            while (startA < a.size() && a[startA] == u'0')
                ++startA;
            while (startB < b.size() && b[startB] == u'0')
                ++startB;
            qsizetype endA = startA;
            qsizetype endB = startB;
            while (endA < a.size() && isAsciiDigit(a[endA].unicode()))
                ++endA;
            while (endB < b.size() && isAsciiDigit(b[endB].unicode()))
                ++endB;
            // Without leading zeros, the longer run is the larger number; equal lengths compare
            // digit by digit. No conversion, so runs of any length work.
            if (endA - startA != endB - startB)
                return sign((endA - startA) - (endB - startB));
            const int digits = QStringView(a)
                                   .sliced(startA, endA - startA)
                                   .compare(QStringView(b).sliced(startB, endB - startB));
            if (digits != 0)
                return sign(digits);
            if (zerosTieBreak == 0)
                zerosTieBreak = sign((startA - i) - (startB - j));
            i = endA;
            j = endB;
            continue;
        }
        const char16_t foldedA = a[i].toCaseFolded().unicode();
        const char16_t foldedB = b[j].toCaseFolded().unicode();
        if (foldedA != foldedB)
            return foldedA < foldedB ? -1 : 1;
        ++i;
        ++j;
    }
    const qsizetype restA = a.size() - i;
    const qsizetype restB = b.size() - j;
    if (restA != restB)
        return sign(restA - restB);
    if (zerosTieBreak != 0)
        return zerosTieBreak;
    return sign(a.compare(b, Qt::CaseSensitive));
}

bool naturalLess(const QString& a, const QString& b) {
    return naturalCompare(a, b) < 0;
}
