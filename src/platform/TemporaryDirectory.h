#pragma once

#include <QString>

// The app's own temporary folder: "orvanta-<uid>" below QDir::tempPath(), mode 0700, made on first
// use. A shared /tmp must not let another user plant or read our files, so a folder of that name
// that is a symlink, is not a folder, is not ours or is open to others is refused, and a fresh
// unique folder ("orvanta-<uid>-XXXXXX") is used instead. Checked again on every call, so a
// folder removed meanwhile is made anew. Empty only when no folder at all can be made there.
QString privateTemporaryDirectory();
