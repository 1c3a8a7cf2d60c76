#include "platform/URL.h"

#include "platform/AsciiCharacters.h"

#include <QDebug>
#include <QDir>

#include <algorithm>

namespace {

bool isUnreserved(char16_t c) {
    return isAsciiLetter(c) || isAsciiDigit(c) || c == u'-' || c == u'.' || c == u'_' || c == u'~';
}

bool isSubDelimiter(char16_t c) {
    return QStringView(u"!$&'()*+,;=").contains(QChar(c));
}

// The characters each part may hold unencoded; the sets of Foundation's
// CharacterSet.urlPathAllowed, urlHostAllowed and urlQueryAllowed.
bool pathAllows(char16_t c) {
    return isUnreserved(c) || isSubDelimiter(c) || c == u':' || c == u'@' || c == u'/';
}

bool hostAllows(char16_t c) {
    return isUnreserved(c) || isSubDelimiter(c) || c == u':' || c == u'[' || c == u']';
}

// A host handed over as text (a device's UDID) rather than parsed: ":" would read back as the start
// of a port, brackets as an IPv6 literal and "@" as the end of a user name, so they are encoded.
bool hostTextAllows(char16_t c) {
    return isUnreserved(c) || isSubDelimiter(c);
}

bool authorityAllows(char16_t c) {
    return hostAllows(c) || c == u'@';
}

bool queryAllows(char16_t c) {
    return pathAllows(c) || c == u'?';
}

// Percent-encodes every character outside allowed, as UTF-8 bytes with upper-case hex digits.
// With keepEscapes, an existing "%XX" escape stays as it is (text being parsed is already
// encoded); a "%" that starts no escape is encoded like any other stray character.
QString percentEncode(QStringView text, bool (*allowed)(char16_t), bool keepEscapes) {
    static constexpr char hex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80 && allowed(c)) {
            out.append(QChar(c));
            continue;
        }
        if (keepEscapes && c == u'%' && i + 2 < text.size() && isHexDigit(text[i + 1].unicode()) &&
            isHexDigit(text[i + 2].unicode())) {
            out.append(text.mid(i, 3));
            i += 2;
            continue;
        }
        // A surrogate pair must be converted as one code point.
        qsizetype length = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            length = 2;
        const QByteArray bytes = text.mid(i, length).toUtf8();
        for (const char byte : bytes) {
            const auto b = static_cast<unsigned char>(byte);
            out.append(QLatin1Char('%'));
            out.append(QLatin1Char(hex[b >> 4]));
            out.append(QLatin1Char(hex[b & 0xF]));
        }
        i += length - 1;
    }
    return out;
}

QString percentDecode(const QString& encoded) {
    // The stored parts are ASCII (everything else is escaped), so without an escape the text is
    // its own decoding; most paths have none, and the menus compare locations often.
    if (!encoded.contains(QLatin1Char('%')))
        return encoded;
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded.toUtf8()));
}

// Whether decoding and cleaning would leave path as it is: no escape, no empty segment but the
// root's, no "." or ".." segment and no trailing "/" but the root. Most paths are so, and the
// menus compare locations often.
bool isCleanPath(QStringView path) {
    if (path.isEmpty() || path.contains(QLatin1Char('%')))
        return false;
    if (path == u"/")
        return true;
    qsizetype start = path.startsWith(QLatin1Char('/')) ? 1 : 0;
    while (start <= path.size()) {
        qsizetype end = path.indexOf(QLatin1Char('/'), start);
        if (end < 0)
            end = path.size();
        const QStringView segment = path.mid(start, end - start);
        if (segment.isEmpty() || segment == u"." || segment == u"..")
            return false;
        start = end + 1;
    }
    return true;
}

bool isValidScheme(QStringView scheme) {
    if (scheme.isEmpty() || !isAsciiLetter(scheme.front().unicode()))
        return false;
    for (const QChar c : scheme) {
        const char16_t u = c.unicode();
        if (!isAsciiLetter(u) && !isAsciiDigit(u) && u != u'+' && u != u'-' && u != u'.')
            return false;
    }
    return true;
}

} // namespace

std::optional<URL> URL::fromString(const QString& absoluteText) {
    const qsizetype colon = absoluteText.indexOf(QLatin1Char(':'));
    if (colon <= 0 || !isValidScheme(QStringView(absoluteText).left(colon)))
        return std::nullopt;

    URL url;
    url.m_scheme = absoluteText.left(colon);
    QStringView rest = QStringView(absoluteText).mid(colon + 1);

    const qsizetype hash = rest.indexOf(QLatin1Char('#'));
    if (hash >= 0) {
        url.m_fragment = percentEncode(rest.mid(hash + 1), queryAllows, true);
        rest = rest.left(hash);
    }
    const qsizetype question = rest.indexOf(QLatin1Char('?'));
    if (question >= 0) {
        url.m_query = percentEncode(rest.mid(question + 1), queryAllows, true);
        rest = rest.left(question);
    }
    if (rest.startsWith(u"//")) {
        rest = rest.mid(2);
        qsizetype end = rest.indexOf(QLatin1Char('/'));
        if (end < 0)
            end = rest.size();
        url.m_authority = percentEncode(rest.left(end), authorityAllows, true);
        rest = rest.mid(end);
    }
    url.m_path = percentEncode(rest, pathAllows, true);
    url.rebuildText();
    return url;
}

URL URL::fileURL(const QString& absolutePath, bool isDirectory) {
    QString path =
        QDir::isAbsolutePath(absolutePath) ? absolutePath : QDir::current().absoluteFilePath(absolutePath);
    if (isDirectory && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    URL url;
    url.m_scheme = QStringLiteral("file");
    url.m_authority = QString();
    url.m_path = percentEncode(path, pathAllows, false);
    url.rebuildText();
    return url;
}

URL URL::fromComponents(const QString& scheme, const QString& host, const QString& decodedPath) {
    URL url;
    url.m_scheme = scheme;
    QString path = decodedPath;
    if (!host.isEmpty() || path.startsWith(QLatin1Char('/'))) {
        // An authority, even an empty one, keeps a path such as "//x" or "a:b" from being read
        // back as something else.
        url.m_authority = percentEncode(host, hostTextAllows, false);
        if (!path.isEmpty() && !path.startsWith(QLatin1Char('/')))
            path.prepend(QLatin1Char('/'));
    }
    url.m_path = percentEncode(path, pathAllows, false);
    url.rebuildText();
    return url;
}

void URL::rebuildText() {
    m_text = m_scheme + QLatin1Char(':');
    if (m_authority)
        m_text += QLatin1String("//") + *m_authority;
    m_text += m_path;
    if (m_query)
        m_text += QLatin1Char('?') + *m_query;
    if (m_fragment)
        m_text += QLatin1Char('#') + *m_fragment;
}

QString URL::host() const {
    if (!m_authority)
        return {};
    // A device's UDID or a plain name: nothing to take apart or decode, and no copy made.
    if (std::none_of(m_authority->cbegin(), m_authority->cend(), [](QChar c) {
            return c == u'@' || c == u'[' || c == u':' || c == u'%';
        }))
        return *m_authority;
    QStringView host = *m_authority;
    const qsizetype at = host.lastIndexOf(QLatin1Char('@'));
    if (at >= 0)
        host = host.mid(at + 1);
    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype close = host.indexOf(QLatin1Char(']'));
        return close < 0 ? host.mid(1).toString() : host.mid(1, close - 1).toString();
    }
    const qsizetype portColon = host.lastIndexOf(QLatin1Char(':'));
    if (portColon >= 0)
        host = host.left(portColon);
    return percentDecode(host.toString());
}

QString URL::path() const {
    QString decoded = percentDecode(m_path);
    if (decoded.size() > 1 && decoded.endsWith(QLatin1Char('/')))
        decoded.chop(1);
    return decoded;
}

bool URL::isFileURL() const {
    return m_scheme.compare(QLatin1String("file"), Qt::CaseInsensitive) == 0;
}

QString URL::toLocalFile() const {
    return isFileURL() ? path() : QString();
}

QString URL::lastPathComponent() const {
    const QString p = path();
    if (p == QLatin1String("/"))
        return p;
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

QString URL::pathExtension() const {
    const QString name = lastPathComponent();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot marks a hidden name, not an extension.
    if (dot <= 0 || dot == name.size() - 1)
        return {};
    return name.mid(dot + 1);
}

URL URL::appendingPathComponent(const QString& component, bool isDirectory) const {
    if (component.isEmpty())
        return *this;
    URL url = *this;
    if (!url.m_path.endsWith(QLatin1Char('/')) && (!url.m_path.isEmpty() || url.m_authority))
        url.m_path += QLatin1Char('/');
    url.m_path += percentEncode(component, pathAllows, false);
    if (isDirectory && !url.m_path.endsWith(QLatin1Char('/')))
        url.m_path += QLatin1Char('/');
    url.rebuildText();
    return url;
}

URL URL::deletingLastPathComponent() const {
    QStringView path = m_path;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (path.isEmpty() || path == u"/" || slash < 0)
        return *this;
    URL url = *this;
    url.m_path = path.left(slash + 1).toString();
    url.rebuildText();
    return url;
}

QString URL::cleanedPath() const {
    if (isCleanPath(m_path))
        return m_path;
    const QString cleaned = QDir::cleanPath(path());
    return cleaned.isEmpty() ? QStringLiteral("/") : cleaned;
}

bool URL::sameSchemeAndHost(const URL& other) const {
    return m_scheme == other.m_scheme && host() == other.host();
}

bool URL::isSameLocation(const URL& other) const {
    return sameSchemeAndHost(other) && cleanedPath() == other.cleanedPath();
}

bool URL::isBelow(const URL& folder) const {
    if (!sameSchemeAndHost(folder))
        return false;
    const QString prefix = Location{{}, {}, folder.cleanedPath()}.insidePrefix();
    const QString mine = cleanedPath();
    return mine.size() > prefix.size() && mine.startsWith(prefix);
}

QString URL::Location::insidePrefix() const {
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

URL::Location URL::location() const {
    return {m_scheme, host(), cleanedPath()};
}

QDebug operator<<(QDebug debug, const URL& url) {
    QDebugStateSaver saver(debug);
    debug.nospace() << "URL(" << url.absoluteString() << ')';
    return debug;
}
