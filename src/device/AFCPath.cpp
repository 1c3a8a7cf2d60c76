#include "device/AFCPath.h"

#include <QRandomGenerator>

#include <algorithm>

namespace {

const QString partialCopyPrefix = QStringLiteral(".orvanta-partial-");
const QString asidePrefix = QStringLiteral(".orvanta-aside-");
constexpr qsizetype suffixDigits = 16;
constexpr qsizetype markDigits = 8;

QString randomSuffix() {
    return QString::number(QRandomGenerator::global()->generate64(), 16)
        .rightJustified(suffixDigits, QLatin1Char('0'));
}

} // namespace

bool AFCPath::isSafeName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && isUsable(name);
}

std::optional<QString> AFCPath::child(const QString& folder, const QString& name) {
    if (!isSafeName(name))
        return std::nullopt;
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

QString AFCPath::lastComponent(const QString& path) {
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    if (trimmed == QLatin1String("/"))
        return trimmed;
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

QString AFCPath::parent(const QString& path) {
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : trimmed.left(slash);
}

QString AFCPath::partialCopyName(const QString& mark) {
    return partialCopyPrefix + mark + randomSuffix();
}

QString AFCPath::partialCopyMark() {
    return QString::number(QRandomGenerator::global()->generate(), 16)
        .rightJustified(markDigits, QLatin1Char('0'));
}

bool AFCPath::isPartialCopyName(const QString& name) {
    return name.startsWith(partialCopyPrefix);
}

QString AFCPath::asideName() {
    return asidePrefix + randomSuffix();
}

bool AFCPath::isAsideName(const QString& name) {
    return name.startsWith(asidePrefix);
}

namespace {

bool isLowerHex(QStringView text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); });
}

bool hasMadeShape(const QString& name, const QString& prefix, qsizetype digits = suffixDigits) {
    return name.size() == prefix.size() + digits && name.startsWith(prefix) &&
           isLowerHex(QStringView(name).mid(prefix.size()));
}

} // namespace

bool AFCPath::isPartialCopyMark(const QString& text) {
    return text.size() == markDigits && isLowerHex(text);
}

bool AFCPath::isMadePartialCopyName(const QString& name) {
    return hasMadeShape(name, partialCopyPrefix) ||
           hasMadeShape(name, partialCopyPrefix, markDigits + suffixDigits);
}

bool AFCPath::isMadePartialCopyName(const QString& name, const QString& mark) {
    if (mark.isEmpty())
        return hasMadeShape(name, partialCopyPrefix);
    return isPartialCopyMark(mark) && hasMadeShape(name, partialCopyPrefix + mark);
}

bool AFCPath::isMadeAsideName(const QString& name) {
    return hasMadeShape(name, asidePrefix);
}

QString AFCPath::copyName(const QString& base, const QString& extension, int number, int limitBytes) {
    QString suffix = number <= 1 ? QStringLiteral(" copy") : QStringLiteral(" copy %1").arg(number);
    if (!extension.isEmpty())
        suffix += QLatin1Char('.') + extension;
    // Shortened by whole characters: a surrogate pair goes as one.
    QString stem = base;
    while (!stem.isEmpty() && (stem + suffix).toUtf8().size() > limitBytes) {
        const qsizetype last = stem.size() - 1;
        stem.chop(last > 0 && stem.at(last).isLowSurrogate() && stem.at(last - 1).isHighSurrogate() ? 2 : 1);
    }
    return stem + suffix;
}

QString AFCPath::copyNameOf(const QString& name, int number, int limitBytes) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1)
        return copyName(name, QString(), number, limitBytes);
    return copyName(name.left(dot), name.mid(dot + 1), number, limitBytes);
}
