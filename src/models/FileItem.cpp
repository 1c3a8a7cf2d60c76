#include "models/FileItem.h"

FileItem::FileItem(QString id, QString name, URL path, bool isDirectory, quint64 size, Date modifiedDate,
                   FileKind kind, std::optional<UniformType> uti)
    : m_id(std::move(id)), m_name(std::move(name)), m_path(std::move(path)), m_isDirectory(isDirectory),
      m_size(size), m_modifiedDate(modifiedDate), m_kind(kind), m_uti(std::move(uti)) {}
