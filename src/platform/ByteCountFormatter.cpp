#include "platform/ByteCountFormatter.h"

#include <array>

namespace {

using Wide = unsigned __int128;

QString grouped(quint64 value) {
    QString digits = QString::number(value);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return digits;
}

} // namespace

QString ByteCountFormatter::file(quint64 bytes) {
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    if (bytes == 1)
        return QStringLiteral("1 byte");
    if (bytes < 1000)
        return QString::number(bytes) + QStringLiteral(" bytes");

    static constexpr std::array<const char*, 6> units = {"KB", "MB", "GB", "TB", "PB", "EB"};
    size_t unit = 0;
    Wide divisor = 1000;
    while (unit + 1 < units.size() && Wide(bytes) >= divisor * 1000) {
        divisor *= 1000;
        ++unit;
    }
    const int decimals = unit == 0 ? 0 : unit == 1 ? 1 : 2;
    Wide scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;

    const Wide numerator = Wide(bytes) * scale;
    Wide quotient = numerator / divisor;
    const Wide remainder = numerator % divisor;
    const Wide twice = remainder * 2;
    if (twice > divisor || (twice == divisor && quotient % 2 == 1))
        ++quotient;

    const quint64 whole = quint64(quotient / scale);
    quint64 fraction = quint64(quotient % scale);
    int shown = decimals;
    while (shown > 0 && fraction % 10 == 0) {
        fraction /= 10;
        --shown;
    }
    QString text = grouped(whole);
    if (shown > 0)
        text += QLatin1Char('.') + QStringLiteral("%1").arg(fraction, shown, 10, QLatin1Char('0'));
    return text + QLatin1Char(' ') + QLatin1String(units[unit]);
}

QString ByteCountFormatter::fileFromSigned(qint64 bytes) {
    return file(bytes < 0 ? 0 : quint64(bytes));
}
