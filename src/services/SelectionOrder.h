#pragma once

#include "models/FileItem.h"

#include <QList>
#include <QSet>

// The order in which a command goes through a selection: the order the folder lists it, so that
// a copy of a camera roll runs through the photos as the user sees them.
class SelectionOrder {
public:
    // Every selected item once: the listed ones in the listing's order, then those no longer
    // listed, by name. Linear in the listing for the usual selection of listed items: a
    // selection of a whole folder of tens of thousands is ordered while the window waits.
    static QList<FileItem> inListingOrder(const QSet<FileItem>& selection, const QList<FileItem>& listing);

    SelectionOrder() = delete;
};
