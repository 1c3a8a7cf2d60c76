#include "models/FileKind.h"

#include "models/RawValueTable.h"

#include <QHash>

namespace {

constexpr RawValueTable<FileKind::Value, 7> rawValues{{{
    {FileKind::folder, "folder"},
    {FileKind::image, "image"},
    {FileKind::video, "video"},
    {FileKind::audio, "audio"},
    {FileKind::document, "document"},
    {FileKind::archive, "archive"},
    {FileKind::other, "other"},
}}};

} // namespace

QString FileKind::rawValue() const {
    // One string a kind, shared by every caller: a camera roll's history holds a kind a photo.
    static const QHash<int, QString> texts = [] {
        QHash<int, QString> table;
        for (const FileKind& kind : allCases())
            table.insert(int(kind.m_value), rawValues.rawValue(kind.m_value));
        return table;
    }();
    return texts.value(int(m_value));
}

std::optional<FileKind> FileKind::fromRawValue(const QString& rawValue) {
    const auto value = rawValues.fromRawValue(rawValue);
    return value ? std::optional<FileKind>(*value) : std::nullopt;
}

const QList<FileKind>& FileKind::allCases() {
    static const QList<FileKind> cases{folder, image, video, audio, document, archive, other};
    return cases;
}

FileKind FileKind::fromUTI(const std::optional<UniformType>& uti) {
    if (!uti)
        return other;
    // The order decides for types with several ancestors: an SVG (image and text) is an image,
    // a movie that is also an archive is a video.
    const std::pair<UniformType, Value> tests[] = {
        {UniformType::image(), image},          {UniformType::movie(), video},
        {UniformType::video(), video},          {UniformType::audio(), audio},
        {UniformType::archive(), archive},      {UniformType::zip(), archive},
        {UniformType::pdf(), document},         {UniformType::text(), document},
        {UniformType::spreadsheet(), document}, {UniformType::presentation(), document},
    };
    for (const auto& [type, kind] : tests) {
        if (uti->conformsTo(type))
            return kind;
    }
    return other;
}
