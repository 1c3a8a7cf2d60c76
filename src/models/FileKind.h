#pragma once

#include "platform/UniformType.h"

#include <QHashFunctions>
#include <QList>
#include <QString>

#include <optional>

// What sort of item a listing entry is, for icons, thumbnails and grouping. Stored (in the
// transfer history) by the raw value, which is the case name.
class FileKind {
public:
    enum Value { folder, image, video, audio, document, archive, other };

    constexpr FileKind(Value value) : m_value(value) {}

    constexpr Value value() const { return m_value; }
    QString rawValue() const;

    // Exactly the seven case names, case-sensitive; nothing for any other text.
    static std::optional<FileKind> fromRawValue(const QString& rawValue);
    static const QList<FileKind>& allCases();

    // Classifies a file by its content type. Never gives folder: builders set that for
    // directories themselves and only ask here about files.
    static FileKind fromUTI(const std::optional<UniformType>& uti);

    constexpr bool operator==(const FileKind&) const = default;

private:
    Value m_value;
};

inline size_t qHash(FileKind kind, size_t seed = 0) {
    return qHash(static_cast<int>(kind.value()), seed);
}
