#include "uikit/Beep.h"

#include <QApplication>

namespace {

int beeps = 0;

std::function<void()>& sound() {
    static std::function<void()> play = [] {
        QApplication::beep();
    };
    return play;
}

} // namespace

void Beep::beep() {
    ++beeps;
    if (sound())
        sound()();
}

int Beep::count() {
    return beeps;
}

void Beep::setSoundForTesting(std::function<void()> play) {
    sound() = std::move(play);
}
