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
