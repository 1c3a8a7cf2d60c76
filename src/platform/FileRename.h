#pragma once

#include <QByteArray>

#include <functional>

// Renames from to to, never over an existing item: the kernel's own check where the file system
// knows it; else, for anything but a folder, a second name made by a link (which refuses a taken
// name just as surely) and the first one removed; else (a folder, or a file system without links)
// a look first, whose window before the rename is small. 0 on success, else the errno (EEXIST
// when to is taken).
int renameWithoutReplacing(const QByteArray& from, const QByteArray& to);

// For tests: with beforeTaking set, every rename goes the way of a file system without the
// kernel's check, and beforeTaking runs right before the step that takes the name; empty to end.
void setRenameFallbackForTesting(std::function<void()> beforeTaking);
