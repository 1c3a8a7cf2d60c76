#pragma once

// How an item set aside on a device was given its name back (AFCItemOperations::putBack).
enum class AFCPutBack {
    // Something bears the name: nothing was done.
    taken,
    // The item has the name, and the hidden one is gone.
    moved,
    // The item has the name by a second link, but the hidden name could not be removed: it is
    // the same file, to be removed later, never put back again.
    linkedBesideOld,
};
