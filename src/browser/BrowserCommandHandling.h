#pragma once

#include <functional>

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

    // Called after this browser changed files itself (rename, delete, paste, drop): the other
    // browsers' listings may be out of date.
    std::function<void()> onContentsChanged;
    // Another browser changed files. A browser on screen lists again at once; a hidden one lists
    // again when it is shown, and publishes nothing older than that listing.
    virtual void contentsChangedElsewhere() = 0;
};
