#include "device/DeviceRecord.h"

#include <cstdint>
#include <limits>

namespace {

QString valueOr(const QMap<QString, QString>& info, const QString& key, const QString& fallback) {
    const auto it = info.constFind(key);
    return it != info.cend() ? *it : fallback;
}

} // namespace

iOSDevice DeviceRecord::make(const QString& udid, const QMap<QString, QString>& info, const QString& name) {
    const QString model = valueOr(info, QStringLiteral("ProductName"),
                                  valueOr(info, QStringLiteral("DeviceName"), QStringLiteral("iOS Device")));
    const QString productType = valueOr(info, QStringLiteral("ProductType"), QStringLiteral("Unknown"));
    const QString iosVersion = valueOr(info, QStringLiteral("ProductVersion"), QStringLiteral("Unknown"));
    const auto battery = info.constFind(QStringLiteral("BatteryCurrentCapacity"));
    const std::optional<int> level = battery != info.cend() ? batteryLevel(*battery) : std::nullopt;
    return iOSDevice(udid, udid, name, model, productType, iosVersion, level, true, false);
}

std::optional<int> DeviceRecord::batteryLevel(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    // Accumulated as a negative number, whose range is the larger one, so the lowest value fits.
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        const int digit = c - u'0';
        if (value < (std::numeric_limits<int64_t>::min() + digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<int64_t>::min()) {
            return std::nullopt;
        }
        value = -value;
    }
    // The record keeps an int; a figure beyond it is as unreadable as one beyond 64 bits.
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return int(value);
}
