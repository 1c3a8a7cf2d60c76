#pragma once

class QFile;

// Closes a file whose data is already written and checked (or abandoned). A failure to close is
// ignored on purpose: the caller has nothing left to do about it, and throwing from cleanup
// paths would hide the error that matters.
void closeFileHandle(QFile& file);
// The same for a POSIX descriptor; a negative one is left alone.
void closeFileHandle(int fd);
