#pragma once

#include <QString>
#include <QStringList>

// The other end of the control socket, for "device-emulator --control SOCKET COMMAND...": sends
// one command, prints the answer and says whether the emulator carried it out.
class ControlClient {
public:
    // Prints the information lines on stdout and a failure on stderr; the exit status for main:
    // 0 done, 1 refused by the emulator, 2 no emulator reached or a word that cannot be sent.
    static int run(const QString& socketPath, const QStringList& words);
};
