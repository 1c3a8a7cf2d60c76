#pragma once

#include <QMimeType>
#include <QString>

#include <optional>

// The type of a file's content, in the role uniform type identifiers play on the original
// platform. It stands on the freedesktop shared MIME database: the MIME name is what gets stored
// as the type's identifier, its comment is what the user is shown.
//
// Conformance follows the MIME inheritance tree (a type conforms to itself and its ancestors).
// The named platform types below are families rather than single MIME types (every image/* is
// an image), so conformance to them is decided by a table in the source.
class UniformType {
public:
    // The type for a file name's extension, as a type of file content. An extension the database
    // does not know still gives a type: a generic one that conforms to data and nothing else.
    // An empty extension has no type.
    static std::optional<UniformType> forFilenameExtension(const QString& extension);
    // The type stored under this identifier (aliases are resolved); nothing for unknown text.
    static std::optional<UniformType> fromIdentifier(const QString& identifier);

    // The named platform types that classification and the file builders ask about.
    static UniformType image();
    static UniformType movie();
    static UniformType video();
    static UniformType audio();
    static UniformType archive();
    static UniformType zip();
    static UniformType pdf();
    static UniformType text();
    static UniformType spreadsheet();
    static UniformType presentation();
    static UniformType data();

    QString identifier() const { return m_identifier; }
    QString localizedDescription() const;

    bool conformsTo(const UniformType& other) const;

    bool operator==(const UniformType& other) const { return m_identifier == other.m_identifier; }

private:
    // The named types that gather many MIME types without one common ancestor.
    enum class Family { none, image, movie, video, audio, archive, spreadsheet, presentation };

    explicit UniformType(QMimeType mimeType);
    UniformType(Family family, QString identifier);

    bool isInFamily(Family family) const;
    bool inheritsAny(const QStringList& mimeNames) const;
    bool hasMediaType(const QString& topLevelType) const;

    QMimeType m_mimeType; // invalid for a family
    Family m_family = Family::none;
    QString m_identifier;
};

size_t qHash(const UniformType& type, size_t seed = 0);
