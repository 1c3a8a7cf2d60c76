#pragma once

#include <QStandardPaths>

#include <optional>

// The user's own folders where the desktop places them (its folder settings, or their defaults).
// The sidebar lists these places, and the file context menu offers them, so the two never differ:
// only while they are there, as looked at away from the window's thread (a place whose folder
// does not exist would only answer "Could not list" and fail every copy into it), and not one
// that the settings turn off by naming the home folder itself (it would repeat Home).
namespace UserFolders {

// Where the home folder and the places are, without looking at the disk: the window asks its
// looks of another thread, since a home folder on a share that stopped answering would hold it.
// The home folder's path; empty when the system names none.
QString homePath();
// The place's path, unless the settings name the home folder itself for it.
std::optional<QString> placePath(QStandardPaths::StandardLocation location);

} // namespace UserFolders
