#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

// Removal of what the program itself made in its temporary folder, which may hold whole device
// folders a drag or a preview copied out. A symbolic link is removed as a link, never followed:
// each folder is opened below its parent with O_NOFOLLOW, so a folder swapped for a link while it
// is being emptied is not walked, and nothing outside the tree is touched. A folder where
// something is mounted (another file system, or a folder of this one bound there) is left as it
// is, its mode included. Removal goes on past what cannot be removed, so
// that one stuck file keeps only itself and its folders. These may take long: never on the main
// thread for a tree that may be large.

// Removes path, whatever it is, and everything below it; true when nothing of it is left (also
// when there was nothing).
bool removeFileTree(const QString& path);
// The same for the entry name of the folder open as folderFd; device is the file system the
// removal stays on.
bool removeFileTreeAt(int folderFd, const char* name, dev_t device);

// Whether the folder open as fd, inside the folder open as parentFd, is where something is
// mounted: another file system, or a folder of this one bound there.
bool isMountPoint(int parentFd, int fd);

// Removes the entries of folder (those that accept takes, by name; all when it is empty) whose
// own time of last change is before cutoff; the number removed whole.
int removeEntriesChangedBefore(const QString& folder, const QDateTime& cutoff,
                               const std::function<bool(const QString& name)>& accept = {});
