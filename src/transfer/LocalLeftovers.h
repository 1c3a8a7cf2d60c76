#pragma once

class LeftoverJournal;

// Puts right what copies on this computer left when the program stopped in the middle of them:
// a partial file or folder goes; an old item set aside goes back under its name when that name is
// free (its replacement never finished), and goes when the name is taken (the replacement did
// finish). Each entry dealt with is struck out; one that could not be leaves a log line and stays
// for the next start. Blocking: run it off the main thread, once, as the program starts.
class LocalLeftovers {
public:
    static void recover(LeftoverJournal& journal);

    LocalLeftovers() = delete;
};
