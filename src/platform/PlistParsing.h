#pragma once

#include <QByteArray>

#include <plist/plist.h>

// The tree of binary or XML plist bytes, for the caller to free with plist_free; nullptr when
// they are no plist. A settings file can come from anywhere, and libplist trusts more than it
// should, so the bytes are checked before it sees them and the tree before anyone walks it:
// - libplist aborts the whole process when asked for a string or a dictionary key whose text
//   holds a NUL. A binary plist's UTF-16 strings can carry U+0000, which is read as U+FFFD so
//   that the rest of the file stays readable; a NUL byte makes no well-formed XML, so such bytes
//   are no plist.
// - It parses nested containers by recursion, so a file nested deeply enough overflows the
//   stack. Nesting deeper than maximumPlistNesting is no plist.
// - Text that is not UTF-8 is read with U+FFFD in place of what is broken: libplist would write
//   it back as a file nobody can read.
plist_t parsePlist(const QByteArray& data);

inline constexpr int maximumPlistNesting = 256;
