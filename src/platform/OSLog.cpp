#include "platform/OSLog.h"

#include "platform/AsciiCharacters.h"

#include <QMessageLogger>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// One parsed "%..." directive.
struct Directive {
    QByteArray annotation; // the text inside "{...}", e.g. "public" or "bool"
    QByteArray flags;
    QByteArray width;
    QByteArray precision; // with its leading "."
    char conversion = 0;
};

// Parses the directive that starts after a "%" at text; returns the position after it, or
// nullptr when the format ends inside the directive.
const char* parseDirective(const char* text, Directive& directive) {
    if (*text == '{') {
        const char* close = std::strchr(text, '}');
        if (!close)
            return nullptr;
        directive.annotation = QByteArray(text + 1, close - text - 1).trimmed();
        text = close + 1;
    }
    while (*text && std::strchr("-+ #0", *text))
        directive.flags += *text++;
    while (isAsciiDigit(*text))
        directive.width += *text++;
    if (*text == '.') {
        directive.precision += *text++;
        while (isAsciiDigit(*text))
            directive.precision += *text++;
    }
    // Length modifiers only say how the caller's value was sized; LogArgument already knows.
    while (*text && std::strchr("hlqjztL", *text))
        ++text;
    if (!*text)
        return nullptr;
    directive.conversion = *text;
    return text + 1;
}

template <class T> QString printfNumber(const Directive& directive, const char* length, T value) {
    const QByteArray printfFormat =
        '%' + directive.flags + directive.width + directive.precision + length + directive.conversion;
    const int size = std::snprintf(nullptr, 0, printfFormat.constData(), value);
    if (size < 0)
        return {};
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    std::snprintf(buffer.data(), buffer.size(), printfFormat.constData(), value);
    return QString::fromLatin1(buffer.data(), size);
}

QString padded(const Directive& directive, QString text) {
    if (directive.precision.size() > 1)
        text.truncate(directive.precision.mid(1).toInt());
    const int width = directive.width.toInt();
    if (text.size() < width)
        return directive.flags.contains('-') ? text.leftJustified(width) : text.rightJustified(width);
    return text;
}

bool hasAnnotation(const Directive& directive, const char* word) {
    for (const QByteArray& part : directive.annotation.split(','))
        if (part.trimmed() == word)
            return true;
    return false;
}

QString formatOne(const Directive& directive, const LogArgument& argument) {
    switch (directive.conversion) {
    case 'd':
    case 'i':
        if (hasAnnotation(directive, "bool"))
            return padded(directive, argument.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
        if (hasAnnotation(directive, "BOOL"))
            return padded(directive, argument.toBool() ? QStringLiteral("YES") : QStringLiteral("NO"));
        if (argument.isText())
            return padded(directive, argument.toText());
        return printfNumber(directive, "ll", static_cast<long long>(argument.toSigned()));
    case 'u':
    case 'x':
    case 'X':
    case 'o':
        if (argument.isText())
            return padded(directive, argument.toText());
        return printfNumber(directive, "ll", static_cast<unsigned long long>(argument.toUnsigned()));
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        if (argument.isText())
            return padded(directive, argument.toText());
        return printfNumber(directive, "", argument.toReal());
    case 'c':
        return padded(directive, argument.isText()
                                     ? argument.toText().left(1)
                                     : QString(QChar(char16_t(argument.toUnsigned() & 0xFFFF))));
    default: // 's', '@' and anything unknown: show the value rather than lose it
        return padded(directive, argument.toText());
    }
}

} // namespace

OSLog::OSLog(QString subsystem, QString category) {
    auto shared = std::make_shared<Shared>();
    shared->subsystem = std::move(subsystem);
    shared->category = std::move(category);
    shared->name = (shared->subsystem + QLatin1Char('.') + shared->category).toUtf8();
    shared->loggingCategory = std::make_unique<QLoggingCategory>(shared->name.constData());
    m_shared = std::move(shared);
}

QString OSLog::formatArguments(const char* format, std::initializer_list<LogArgument> arguments) {
    QString result;
    if (!format)
        return result;
    auto next = arguments.begin();
    const char* text = format;
    while (*text) {
        const char* percent = std::strchr(text, '%');
        if (!percent) {
            result += QString::fromUtf8(text);
            break;
        }
        result += QString::fromUtf8(text, percent - text);
        if (percent[1] == '%') {
            result += QLatin1Char('%');
            text = percent + 2;
            continue;
        }
        Directive directive;
        const char* after = parseDirective(percent + 1, directive);
        if (!after) { // a format cut off inside a directive: keep its text as it stands
            result += QString::fromUtf8(percent);
            break;
        }
        if (next == arguments.end())
            result += QStringLiteral("<missing>");
        else
            result += formatOne(directive, *next++);
        text = after;
    }
    return result;
}

void OSLog::write(QtMsgType level, const QString& message) const {
    const QLoggingCategory& category = loggingCategory();
    QMessageLogger logger(nullptr, 0, nullptr, category.categoryName());
    switch (level) {
    case QtDebugMsg:
        logger.debug(category).noquote().nospace() << message;
        break;
    case QtInfoMsg:
        logger.info(category).noquote().nospace() << message;
        break;
    default:
        logger.critical(category).noquote().nospace() << message;
        break;
    }
}
