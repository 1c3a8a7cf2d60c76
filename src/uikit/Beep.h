#pragma once

#include <functional>

// The system beep, behind a seam: tests count beeps instead of hearing them.
class Beep {
public:
    static void beep();
    // How many beeps sounded since the process started.
    static int count();
    // Replaces the sound (nothing restores the default: only tests call this).
    static void setSoundForTesting(std::function<void()> sound);

    Beep() = delete;
};
