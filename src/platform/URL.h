#pragma once

#include <QHashFunctions>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>

// A location as Foundation models it: an absolute URL whose text is the identity. QUrl is not
// used because it lower-cases hosts, and device locations carry the UDID (upper-case hex) as host;
// FileItem ids and stored settings compare that text byte for byte.
//
// The text is kept in percent-encoded form. Builders (fileURL, fromComponents,
// appendingPathComponent) take decoded paths and encode what a URL path cannot hold; path() and
// lastPathComponent() decode again.
class URL {
public:
    URL() = default;

    // Parses an absolute URL ("scheme:..."). Characters a URL cannot hold (spaces, non-ASCII, a
    // "%" that starts no escape) are percent-encoded rather than refused, as current Foundation
    // does. Nothing for empty text or text without a scheme.
    static std::optional<URL> fromString(const QString& absoluteText);
    // A file URL of a path; a relative path is taken relative to the current directory. A
    // directory URL ends in "/".
    static URL fileURL(const QString& absolutePath, bool isDirectory = false);
    // Assembles a URL from parts; the path is decoded text and is percent-encoded here. With a
    // host, a path that lacks its leading "/" gets one.
    static URL fromComponents(const QString& scheme, const QString& host, const QString& decodedPath);

    bool isEmpty() const { return m_text.isEmpty(); }

    QString scheme() const { return m_scheme; }
    QString host() const;
    bool hasHost() const { return !host().isEmpty(); }
    // Decoded, without a trailing "/" unless the path is just "/".
    QString path() const;
    QString encodedPath() const { return m_path; }
    bool hasDirectoryPath() const { return m_path.endsWith(QLatin1Char('/')); }
    bool isFileURL() const;
    // The decoded file-system path of a file URL; empty for any other URL.
    QString toLocalFile() const;
    QString absoluteString() const { return m_text; }

    QString lastPathComponent() const;
    QString pathExtension() const;
    URL appendingPathComponent(const QString& component, bool isDirectory = false) const;
    // The parent folder, as a directory URL. A root stays the root: there is nothing above it.
    URL deletingLastPathComponent() const;

    // Whether both name the same place: same scheme and host (exact text) and the same decoded
    // path once "." and ".." segments, doubled and trailing "/" are cleaned away.
    bool isSameLocation(const URL& other) const;
    // Whether this lies strictly inside folder, by the same rule: its cleaned path is longer
    // than the folder's insidePrefix() and begins with it.
    bool isBelow(const URL& folder) const;

    // What those two compare, read out once for callers that keep it: two URLs are the same
    // location exactly when their Locations are equal.
    struct Location {
        QString scheme;
        QString host; // decoded
        QString path; // decoded and cleaned
        // What the paths of the places inside this one begin with: the path and one "/".
        QString insidePrefix() const;
        bool operator==(const Location& other) const = default;
    };
    Location location() const;

    bool operator==(const URL& other) const { return m_text == other.m_text; }

private:
    void rebuildText();
    QString cleanedPath() const;
    bool sameSchemeAndHost(const URL& other) const;

    QString m_scheme;
    std::optional<QString> m_authority; // encoded; present when the text has "//"
    QString m_path;                     // encoded
    std::optional<QString> m_query;     // encoded, without "?"
    std::optional<QString> m_fragment;  // encoded, without "#"
    QString m_text;
};

inline size_t qHash(const URL& url, size_t seed = 0) noexcept {
    return qHash(url.absoluteString(), seed);
}

template <> struct std::hash<URL> {
    size_t operator()(const URL& url) const noexcept { return qHash(url); }
};

class QDebug;
QDebug operator<<(QDebug debug, const URL& url);
