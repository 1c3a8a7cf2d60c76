#pragma once

class LeftoverJournal;

// Puts right what copies on this computer left when the program stopped in the middle of them,
// by LeftoverCleanup's rule: a partial file or folder goes; an old item set aside goes only when
// its replacement was recorded whole, and otherwise comes back, under a free " copy" name when its
// own is taken. Each entry dealt with is struck out; one that could not be (or a disk that is not
// there) leaves a log line and stays for the next start. Blocking: run it off the main thread, once,
// as the program starts.
class LocalLeftovers {
public:
    static void recover(LeftoverJournal& journal);

    LocalLeftovers() = delete;
};
