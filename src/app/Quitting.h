#pragma once

// How a run ends once its event loop has returned: begin() at once, then the application's own
// clean-up (its delegate's end), then finish() as main's last step.
namespace Quitting {

// From here on nothing new starts (a device that finishes connecting now, or a listing it would
// set off), and every task that runs is asked to stop.
void begin();

// Lets the tasks asked to stop end, before the application object and Qt's globals that their
// jobs use go; main's status.
int finish(int status);

} // namespace Quitting
