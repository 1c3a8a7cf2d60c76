#pragma once

#include <QByteArray>

// Renames from to to, never over an existing item: the kernel's own check where the file system
// knows it, else a look first (rare file systems; the window between the look and the rename is
// small). 0 on success, else the errno (EEXIST when to is taken).
int renameWithoutReplacing(const QByteArray& from, const QByteArray& to);
