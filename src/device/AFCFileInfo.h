#pragma once

#include <QMap>
#include <QString>

// The facts of one device path exactly as the device reports them ("st_size", "st_ifmt",
// "st_mtime", ...), as text; listings and fileInfo add "Name" and "Path". Interpreting the
// values is the caller's business.
using AFCFileInfo = QMap<QString, QString>;
