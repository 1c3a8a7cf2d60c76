#pragma once

#include "models/FileItem.h"
#include "platform/URL.h"

#include <QList>

#include <functional>
#include <optional>

// The commands and questions that every browser answers, so that the main window's Edit menu
// and keys reach whichever browser is shown without knowing which one it is. None of them
// throws: a command reports its own failures (alerts, logs, beeps).
class BrowserCommandHandling {
public:
    virtual ~BrowserCommandHandling() = default;

    virtual bool canRename() const { return true; }
    virtual bool hasSelection() const = 0;
    virtual bool canPaste() const = 0;
    virtual void copySelection() = 0;
    virtual void cutSelection() = 0;
    virtual void paste() = 0;
    virtual void duplicateSelection() = 0;
    virtual void deleteSelection() = 0;
    virtual void renameSelection() = 0;
    virtual void selectAllItems() = 0;

    // Whether this browser may write the selection and the folder's contents into the window's
    // navigation state. Only the browser on screen does: a hidden one that went on listing would
    // otherwise make the status bar and Select All describe a folder nobody sees. Turning it on
    // publishes what the browser shows now.
    virtual void setPublishesSharedState(bool publishes) = 0;

    // Called after this browser changed files itself (rename, delete, paste, drop), with the
    // folders it shows: the other browsers' listings may be out of date. True when the listings
    // of those folders are taken care of (the watcher of computer folders lists them again, in
    // every browser, unless its last listing came after the change); the browser lists them
    // itself otherwise. Empty when the change went into a folder the browser does not show (a
    // drop on a folder's row): no watched folder's entries changed, so it lists itself.
    std::function<bool(const QList<URL>& shown)> onContentsChanged;
    // Another browser changed files. A browser on screen lists again at once; a hidden one lists
    // again when it is shown, and publishes nothing older than that listing.
    virtual void contentsChangedElsewhere() = 0;

    // The folder a browser shows, with its listing when the browser holds a whole and current
    // one: where the browser shown next by a mode switch starts.
    struct ShownFolder {
        URL folder;
        std::optional<QList<FileItem>> items;
    };
    virtual std::optional<ShownFolder> shownFolder() const = 0;
    // Shown by a mode switch after another browser: shows the folder that one showed, from its
    // listing when it comes with one, so that a switch never reads a folder a second time.
    virtual void takeOver(const ShownFolder& shown) = 0;
};
