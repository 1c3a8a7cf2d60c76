#pragma once

#include "device/LeftoverJournal.h"

// Puts right what copies on this computer left when the program stopped in the middle of them,
// by LeftoverCleanup's rule: a partial file or folder goes; an old item set aside goes only when
// its replacement was recorded whole, and otherwise comes back, under a free " copy" name when its
// own is taken. Each entry dealt with is struck out; one that could not be (or a disk that is not
// there) leaves a log line and stays for the next start. Blocking: run it off the main thread, once,
// as the program starts.
class LocalLeftovers {
public:
    static void recover(LeftoverJournal& journal);
    // Settles one entry now, by the same rule, as a copy that ended short does with what it left;
    // true when nothing is left to do, so that the entry may be struck. Throws Error when the
    // disk refuses; the entry stays then.
    static bool settle(const LeftoverJournal::Entry& entry);

    LocalLeftovers() = delete;
};
