#pragma once

#include "platform/Date.h"
#include "platform/URL.h"

#include <optional>

// Facts about a file on this computer, read afresh from the file system. None of them throws:
// a failure (no such file, no permission, not a file URL) gives the neutral answer.
//
// A symbolic link is described itself and not followed, as the platform's resource values do:
// a link to a folder is no folder, so copies never wander through links into other trees.

bool isDirectoryOnDisk(const URL& url);
// Nothing for a folder, whose size means nothing here.
std::optional<quint64> fileSizeOnDisk(const URL& url);
std::optional<Date> modificationDateOnDisk(const URL& url);
