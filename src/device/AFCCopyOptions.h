#pragma once

#include "platform/FileIdentity.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <optional>

// A hidden folder of a folder copy's own, beside the files it uploads: their partial copies are
// written in it and linked under their names, which fails on a taken name by itself, so that no
// file needs a look first or a rename; the folder goes in one request once the copy ends.
struct AFCStaging {
    QString folder;
    // Set once the device would not link a copy: the files after go by look and rename. Shared by
    // the staging folders of one transfer.
    std::shared_ptr<std::atomic<bool>> noLinks = std::make_shared<std::atomic<bool>>(false);
};

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
    // A download into a folder of the user's that nothing else covers (not a folder of the
    // transfer's own, nor the run's temporary folder, which goes whole after a crash): its partial
    // copy is written down in the journal of leftovers before it is made, so that the next start
    // removes it should the program be killed meanwhile.
    bool recordPartial = false;
    // Set only with insideNewFolder, whose entry in the journal also covers this folder.
    std::shared_ptr<AFCStaging> staging;
    // The mark of the transfer's partial copies (AFCPath::partialCopyMark) that the name of the
    // copy's partial file beside its target carries where nothing else records it (a download;
    // an upload inside a new folder): the clean-up of a folder the transfer made removes only
    // those. Empty for none.
    QString partialMark;
    // Set by an upload to what its local source was when it opened it, before a byte was read: a
    // move deletes the source only while it is still that file, unchanged.
    std::shared_ptr<FileIdentity> openedSource;
};
