#include "platform/UuidText.h"

#include "platform/AsciiCharacters.h"

QString uuidString(const QUuid& uuid) {
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> uuidFromString(const QString& text) {
    // QUuid::fromString also takes braces and yields the null UUID for garbage, which is itself a
    // valid UUID; so the shape is checked here first.
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphenPlace ? text[i] != QLatin1Char('-') : !isHexDigit(text[i].unicode()))
            return std::nullopt;
    }
    return QUuid::fromString(text);
}
