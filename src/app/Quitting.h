#pragma once

// How a run ends once its event loop has returned: begin() at once, then the application's own
// clean-up (its delegate's end), then finish() as main's last step.
namespace Quitting {

// From here on nothing new starts (a device that finishes connecting now, or a listing it would
// set off), every task that runs is asked to stop, and a look at this computer's disk still
// under way is left to its thread (it may wait on a share that stopped answering).
void begin();

// Lets the tasks asked to stop end, before the application object and Qt's globals that their
// jobs use go; main's status. While a thread left behind still waits on the disk, the process
// ends here instead (quick_exit), without taking those globals down under it, once the settings'
// pending changes are written.
int finish(int status);

} // namespace Quitting
