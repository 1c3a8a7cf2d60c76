#include "models/FileItem.h"

FileItem::Data::Data(QString id, QString name, URL path, bool isDirectory, quint64 size, Date modifiedDate,
                     FileKind kind, std::optional<UniformType> uti)
    : id(std::move(id)), idHash(qHash(this->id)), name(std::move(name)), path(std::move(path)), isDirectory(isDirectory), size(size),
      modifiedDate(modifiedDate), kind(kind), uti(std::move(uti)) {}

FileItem::FileItem(QString id, QString name, URL path, bool isDirectory, quint64 size, Date modifiedDate,
                   FileKind kind, std::optional<UniformType> uti)
    : d(new Data(std::move(id), std::move(name), std::move(path), isDirectory, size, modifiedDate, kind,
                 std::move(uti))) {}
