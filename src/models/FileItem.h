#pragma once

#include "models/FileKind.h"
#include "platform/Date.h"
#include "platform/URL.h"
#include "platform/UniformType.h"

#include <QString>

#include <functional>
#include <optional>

// One file or folder of a listing, on the computer or on a device. A changed file gives a new
// record; nothing is changed in place.
//
// Identity is the id alone: the provider's computer listings use the file-system path, every
// other builder the URL's full text, so the same file built both ways is two different items.
class FileItem {
public:
    FileItem(QString id, QString name, URL path, bool isDirectory, quint64 size, Date modifiedDate,
             FileKind kind, std::optional<UniformType> uti);

    const QString& id() const { return m_id; }
    const QString& name() const { return m_name; }
    const URL& path() const { return m_path; }
    bool isDirectory() const { return m_isDirectory; }
    quint64 size() const { return m_size; }
    Date modifiedDate() const { return m_modifiedDate; }
    FileKind kind() const { return m_kind; }
    const std::optional<UniformType>& uti() const { return m_uti; }

    bool operator==(const FileItem& other) const { return m_id == other.m_id; }

private:
    QString m_id;
    QString m_name;
    URL m_path;
    bool m_isDirectory;
    quint64 m_size;
    Date m_modifiedDate;
    FileKind m_kind;
    std::optional<UniformType> m_uti;
};

inline size_t qHash(const FileItem& item, size_t seed = 0) {
    return qHash(item.id(), seed);
}

template <> struct std::hash<FileItem> {
    size_t operator()(const FileItem& item) const noexcept { return qHash(item); }
};
