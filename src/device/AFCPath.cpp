#include "device/AFCPath.h"

#include <QRandomGenerator>

namespace {

const QString partialCopyPrefix = QStringLiteral(".orvanta-partial-");
const QString asidePrefix = QStringLiteral(".orvanta-aside-");

QString randomSuffix() {
    return QString::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, QLatin1Char('0'));
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

QString AFCPath::partialCopyName() {
    return partialCopyPrefix + randomSuffix();
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

bool hasMadeShape(const QString& name, const QString& prefix) {
    if (name.size() != prefix.size() + 16 || !name.startsWith(prefix))
        return false;
    for (qsizetype at = prefix.size(); at < name.size(); ++at) {
        const QChar c = name.at(at);
        if (!(c >= u'0' && c <= u'9') && !(c >= u'a' && c <= u'f'))
            return false;
    }
    return true;
}

} // namespace

bool AFCPath::isMadePartialCopyName(const QString& name) {
    return hasMadeShape(name, partialCopyPrefix);
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
