#pragma once

#include "services/FileItemBuilder.h"

#include <QList>
#include <QString>

#include <dirent.h>
#include <utility>

// The provider's plain, blocking work on this computer's files; its executor runs them. Every
// failure is a FileError that keeps errno.
class LocalFileOperations {
public:
    struct Child {
        QString name;
        QString path;
        LocalFacts facts;
    };

    // The folder's children in the order the file system gives them, without "." and "..". A
    // child whose facts cannot be read (gone meanwhile) is left out.
    static QList<Child> children(const QString& folder);
    static LocalFacts facts(const QString& path);
    // The open folder's next entry other than "." and "..", or null at its end. A failed read
    // throws: a listing cut short must not pass for a complete one.
    static const dirent* nextEntry(DIR* dir, const QString& folder);
    // Renames or moves an item, and fails with EEXIST instead of replacing what is at the target.
    static void renameWithoutReplacing(const QString& from, const QString& to);
    // Moves an item to the user's trash, where it can be restored from.
    static void moveToTrash(const QString& path);

    LocalFileOperations() = delete;
};
