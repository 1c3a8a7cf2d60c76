#include "platform/UniformType.h"

#include <QHash>
#include <QHashFunctions>
#include <QMimeDatabase>

#include <algorithm>

namespace {

// MIME types of archives and compressed files. Their descendants (compressed tarballs, jar, and
// the zip-based office formats, as in the platform's own hierarchy) conform through inheritance.
const QStringList& archiveTypes() {
    static const QStringList types{
        QStringLiteral("application/zip"),
        QStringLiteral("application/x-tar"),
        QStringLiteral("application/x-7z-compressed"),
        QStringLiteral("application/vnd.rar"),
        QStringLiteral("application/gzip"),
        QStringLiteral("application/x-bzip"),
        QStringLiteral("application/x-xz"),
        QStringLiteral("application/x-lzma"),
        QStringLiteral("application/x-lzip"),
        QStringLiteral("application/zstd"),
        QStringLiteral("application/x-compress"),
        QStringLiteral("application/x-archive"),
        QStringLiteral("application/x-cpio"),
        QStringLiteral("application/x-lha"),
        QStringLiteral("application/x-arj"),
        QStringLiteral("application/vnd.ms-cab-compressed"),
        QStringLiteral("application/x-xar"),
        QStringLiteral("application/x-stuffit"),
    };
    return types;
}

const QStringList& spreadsheetTypes() {
    static const QStringList types{
        QStringLiteral("application/vnd.oasis.opendocument.spreadsheet"),
        QStringLiteral("application/vnd.oasis.opendocument.spreadsheet-template"),
        QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"),
        QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.template"),
        QStringLiteral("application/vnd.ms-excel"),
        QStringLiteral("application/vnd.ms-excel.sheet.macroEnabled.12"),
        QStringLiteral("application/vnd.ms-excel.sheet.binary.macroEnabled.12"),
        QStringLiteral("application/vnd.sun.xml.calc"),
        QStringLiteral("application/vnd.apple.numbers"),
        QStringLiteral("application/x-gnumeric"),
    };
    return types;
}

const QStringList& presentationTypes() {
    static const QStringList types{
        QStringLiteral("application/vnd.oasis.opendocument.presentation"),
        QStringLiteral("application/vnd.oasis.opendocument.presentation-template"),
        QStringLiteral("application/vnd.openxmlformats-officedocument.presentationml.presentation"),
        QStringLiteral("application/vnd.openxmlformats-officedocument.presentationml.slideshow"),
        QStringLiteral("application/vnd.openxmlformats-officedocument.presentationml.template"),
        QStringLiteral("application/vnd.ms-powerpoint"),
        QStringLiteral("application/vnd.ms-powerpoint.presentation.macroEnabled.12"),
        QStringLiteral("application/vnd.sun.xml.impress"),
        QStringLiteral("application/vnd.apple.keynote"),
    };
    return types;
}

QMimeType mimeTypeNamed(const QString& name) {
    return QMimeDatabase().mimeTypeForName(name);
}

} // namespace

UniformType::UniformType(QMimeType mimeType)
    : m_mimeType(std::move(mimeType)), m_identifier(m_mimeType.name()) {}

UniformType::UniformType(Family family, QString identifier)
    : m_family(family), m_identifier(std::move(identifier)) {}

std::optional<UniformType> UniformType::forFilenameExtension(const QString& extension) {
    if (extension.isEmpty())
        return std::nullopt;
    // A folder of a hundred thousand photos holds a handful of extensions, and every question to
    // the database takes its one lock, which a listing then holds against every other thread:
    // each thread keeps the answers it had, a few hundred at most.
    constexpr qsizetype mostKept = 256;
    thread_local QHash<QString, UniformType> known;
    if (const auto found = known.constFind(extension); found != known.constEnd())
        return *found;
    // Matching the name alone never touches the disk; an unknown extension falls back to the
    // database's generic application/octet-stream, which is exactly "data and nothing more".
    const QMimeType type =
        QMimeDatabase().mimeTypeForFile(QStringLiteral("file.") + extension, QMimeDatabase::MatchExtension);
    const UniformType answer = type.isValid() ? UniformType(type) : UniformType::data();
    if (known.size() < mostKept)
        known.insert(extension, answer);
    return answer;
}

std::optional<UniformType> UniformType::fromIdentifier(const QString& identifier) {
    const QMimeType type = mimeTypeNamed(identifier);
    if (!type.isValid())
        return std::nullopt;
    return UniformType(type);
}

UniformType UniformType::image() {
    return UniformType(Family::image, QStringLiteral("image/*"));
}
UniformType UniformType::movie() {
    return UniformType(Family::movie, QStringLiteral("movie/*"));
}
UniformType UniformType::video() {
    return UniformType(Family::video, QStringLiteral("video/*"));
}
UniformType UniformType::audio() {
    return UniformType(Family::audio, QStringLiteral("audio/*"));
}
UniformType UniformType::archive() {
    return UniformType(Family::archive, QStringLiteral("archive/*"));
}
UniformType UniformType::spreadsheet() {
    return UniformType(Family::spreadsheet, QStringLiteral("spreadsheet/*"));
}
UniformType UniformType::presentation() {
    return UniformType(Family::presentation, QStringLiteral("presentation/*"));
}
UniformType UniformType::zip() {
    return UniformType(mimeTypeNamed(QStringLiteral("application/zip")));
}
UniformType UniformType::pdf() {
    return UniformType(mimeTypeNamed(QStringLiteral("application/pdf")));
}
UniformType UniformType::text() {
    return UniformType(mimeTypeNamed(QStringLiteral("text/plain")));
}
UniformType UniformType::data() {
    return UniformType(mimeTypeNamed(QStringLiteral("application/octet-stream")));
}

QString UniformType::localizedDescription() const {
    return m_mimeType.isValid() ? m_mimeType.comment() : QString();
}

bool UniformType::conformsTo(const UniformType& other) const {
    if (*this == other)
        return true;
    if (m_family != Family::none) {
        // A family is content of some kind: it conforms to data, and movies and videos are one
        // family here because the MIME database does not tell them apart.
        if (other == data())
            return true;
        const auto isMoving = [](Family f) {
            return f == Family::movie || f == Family::video;
        };
        return isMoving(m_family) && isMoving(other.m_family);
    }
    if (other.m_family != Family::none)
        return isInFamily(other.m_family);
    return m_mimeType.inherits(other.m_identifier);
}

bool UniformType::isInFamily(Family family) const {
    switch (family) {
    case Family::image:
        return hasMediaType(QStringLiteral("image"));
    case Family::movie:
    case Family::video:
        return hasMediaType(QStringLiteral("video"));
    case Family::audio:
        return hasMediaType(QStringLiteral("audio"));
    case Family::archive:
        return inheritsAny(archiveTypes());
    case Family::spreadsheet:
        return inheritsAny(spreadsheetTypes());
    case Family::presentation:
        return inheritsAny(presentationTypes());
    case Family::none:
        break;
    }
    return false;
}

bool UniformType::inheritsAny(const QStringList& mimeNames) const {
    return std::any_of(mimeNames.begin(), mimeNames.end(),
                       [this](const QString& name) { return m_mimeType.inherits(name); });
}

bool UniformType::hasMediaType(const QString& topLevelType) const {
    const QString prefix = topLevelType + QLatin1Char('/');
    if (m_identifier.startsWith(prefix))
        return true;
    const QStringList ancestors = m_mimeType.allAncestors();
    return std::any_of(ancestors.begin(), ancestors.end(),
                       [&prefix](const QString& name) { return name.startsWith(prefix); });
}

size_t qHash(const UniformType& type, size_t seed) {
    return qHash(type.identifier(), seed);
}
