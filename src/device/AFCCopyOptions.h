#pragma once

#include <QtGlobal>

#include <optional>

// What a copy between this computer and a device may take for granted about its two ends.
struct AFCCopyOptions {
    // The source's size when the copy was decided on. The copy reads no more than that, and a
    // source that turns out shorter or longer fails it (SizeChangedError) before anything takes
    // the target's name. Unset: a download reads to the end of the file, an upload to the size
    // the local file has when it is opened.
    std::optional<quint64> expectedSize;
    // Whether the finished copy may take the place of an item already under the target's name.
    // When not, a taken name fails the copy with NameTakenError and leaves that item alone.
    bool replaceExisting = true;
    // The target's folder was made by the copy's own transfer, which wrote it down in the journal
    // of leftovers: an upload's partial copy then needs no entry of its own (the clean-up of that
    // folder's entry removes it).
    bool insideNewFolder = false;
};
