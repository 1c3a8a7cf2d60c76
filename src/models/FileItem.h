#pragma once

#include "models/FileKind.h"
#include "platform/Date.h"
#include "platform/URL.h"
#include "platform/UniformType.h"

#include <QExplicitlySharedDataPointer>
#include <QSharedData>
#include <QString>

#include <functional>
#include <optional>

// One file or folder of a listing, on the computer or on a device. A changed file gives a new
// record; nothing is changed in place.
//
// Identity is the id alone: the provider's computer listings use the file-system path, every
// other builder the URL's full text, so the same file built both ways is two different items.
//
// The facts are shared between copies: a listing, the selection, the clipboard and a transfer's
// sources hold the same record, so Select All in a folder of 100,000 items copies pointers, not
// the facts of each item.
class FileItem {
public:
    FileItem(QString id, QString name, URL path, bool isDirectory, quint64 size, Date modifiedDate,
             FileKind kind, std::optional<UniformType> uti);
    // A moved-from item keeps its facts: an item is never empty.
    FileItem(const FileItem& other) = default;
    FileItem(FileItem&& other) noexcept : d(other.d) {}
    FileItem& operator=(const FileItem& other) = default;
    FileItem& operator=(FileItem&& other) noexcept {
        d = other.d;
        return *this;
    }
    ~FileItem() = default;

    const QString& id() const { return d->id; }
    const QString& name() const { return d->name; }
    const URL& path() const { return d->path; }
    bool isDirectory() const { return d->isDirectory; }
    quint64 size() const { return d->size; }
    Date modifiedDate() const { return d->modifiedDate; }
    FileKind kind() const { return d->kind; }
    const std::optional<UniformType>& uti() const { return d->uti; }

    // The id's hash is taken once, where the item is made (off the window's thread for a
    // listing): a set of a Select All of 100,000 items then hashes and compares no text.
    bool operator==(const FileItem& other) const {
        return d == other.d || (d->idHash == other.d->idHash && d->id == other.d->id);
    }
    size_t idHash() const { return d->idHash; }
    // Whether both are copies of one record: the same facts, found without comparing them.
    bool sharesFactsWith(const FileItem& other) const { return d == other.d; }

private:
    struct Data : QSharedData {
        Data(QString id, QString name, URL path, bool isDirectory, quint64 size, Date modifiedDate, FileKind kind,
             std::optional<UniformType> uti);
        QString id;
        size_t idHash;
        QString name;
        URL path;
        bool isDirectory;
        quint64 size;
        Date modifiedDate;
        FileKind kind;
        std::optional<UniformType> uti;
    };
    QExplicitlySharedDataPointer<const Data> d;
};

inline size_t qHash(const FileItem& item, size_t seed = 0) {
    return qHash(item.idHash(), seed);
}

template <> struct std::hash<FileItem> {
    size_t operator()(const FileItem& item) const noexcept { return qHash(item); }
};
