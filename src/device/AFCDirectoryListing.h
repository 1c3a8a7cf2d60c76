#pragma once

#include "device/AFCFileInfo.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// A folder's children, and the names that were left out of them: names that could not be used
// safely, and children whose facts the device would not give. A caller that copies, moves or
// removes the folder must not mistake the entries for all of it.
struct AFCDirectoryListing {
    QList<AFCFileInfo> entries;
    QStringList skippedNames;
    // Why each of them was left out, by name, in words for a report.
    QHash<QString, QString> skipReasons;
};
