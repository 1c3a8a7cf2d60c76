#pragma once

#include "models/FileItem.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The items of one folder, and the names of the children that could not be read and so are
// missing from them. A caller that copies, moves or removes the folder must not take the items
// for all of it when skippedNames is not empty. Hidden items and copies in progress are left out
// on purpose and are not counted as skipped.
struct FileListing {
    QList<FileItem> items;
    QStringList skippedNames;
    // Why each skipped child was left out, by name, where that is known.
    QHash<QString, QString> skipReasons;
};
