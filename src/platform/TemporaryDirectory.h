#pragma once

#include <QString>

// The app's own temporary folder: "orvanta-<uid>" below QDir::tempPath(), mode 0700, made on first
// use. A shared /tmp must not let another user plant or read our files, so a folder of that name
// that is a symlink, is not a folder, is not ours or is open to others is refused, and a fresh
// unique folder ("orvanta-<uid>-XXXXXX") is used instead. Checked again on every call, so a
// folder removed meanwhile is made anew. Empty only when no folder at all can be made there.
QString privateTemporaryDirectory();

// This run's own folder inside privateTemporaryDirectory(): "Runs/<16 hex digits>", mode 0700,
// held locked (flock) by this process for its life. Copies that serve one run only (the files a
// drag hands to another program, a preview's copies, a thumbnail's) go here. The kernel drops the
// lock however the process ends, a kill or a crash included, so a later start tells the folders
// of ended runs from those of instances still running, whose receivers may still be reading them
// (removeFoldersOfEndedRuns). Made on first use and again when removed meanwhile; removed with
// everything in it when the process exits normally (exit or quick_exit). Empty when no folder can be made.
QString runTemporaryDirectory();

// Removes the run folders below privateFolder whose lock is free, with everything in them; the
// number removed. Never follows a symbolic link. May take long (whole videos): not on the main
// thread.
int removeFoldersOfEndedRuns(const QString& privateFolder);
