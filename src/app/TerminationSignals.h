#pragma once

#include <QObject>

#include <chrono>
#include <functional>

// Ctrl-C, a closed terminal or a kill (SIGINT, SIGHUP, SIGTERM) end the program as Quit does, so
// that running copies clean up their partial files before the process goes: the signal is written
// to a socket that the main thread's event loops read (nested ones too, such as a drag's).
//
// A main thread that cannot get back to a loop (stuck on the window system, say, which stops
// answering while another program holds the server) would keep the process alive for as long as
// it is stuck, and with it whatever the process holds on the display. So a signal that no loop has
// taken within `grace` ends the process as the signal does by default, and so does a second
// signal: the partial files are then left to the next start's clean-up.
namespace TerminationSignals {

inline constexpr std::chrono::seconds defaultGrace{10};

// Installs the handlers; false when the socket could not be made (the signals then keep their
// default action). Plain POSIX: takes no Qt object and starts no thread.
bool installHandlers(std::chrono::seconds grace = defaultGrace);
// The end of the socket that a caught signal makes readable; -1 before installHandlers().
int readableSocket();
// Reads what a caught signal wrote and lifts the deadline: the orderly quit that follows has
// bounds of its own. A later signal still ends the process at once.
void take();

// installHandlers(), and a notifier under owner whose loop takes the first signal and calls quit.
bool quitOnTerminationSignals(QObject* owner, std::function<void()> quit,
                              std::chrono::seconds grace = defaultGrace);

} // namespace TerminationSignals
