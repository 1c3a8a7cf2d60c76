#pragma once

#include "platform/URL.h"
#include "platform/async/Task.h"

#include <QString>

#include <optional>
#include <stop_token>

class QWidget;

// Asks the user for a folder, modal to a window, without a nested event loop. Tests put a fake in
// its place.
class FolderChooser {
public:
    struct Request {
        // The accept button's label ("Select", "Copy Here").
        QString prompt;
        // Shown as the dialog's title; without one the prompt titles it.
        QString message;
        // The folder the dialog opens in; none (or one that is not on this computer) leaves the
        // dialog's own choice, which is the program's working folder.
        std::optional<URL> directory;
    };

    virtual ~FolderChooser() = default;
    // The chosen folder, or nothing when the user cancelled.
    virtual async::Task<std::optional<URL>> choose(Request request, QWidget* parent,
                                                   std::stop_token token) = 0;
};

// Our own (non-native) folder dialog, the same on every desktop: folders only, New Folder
// available, window-modal on parent.
class DialogFolderChooser : public FolderChooser {
public:
    async::Task<std::optional<URL>> choose(Request request, QWidget* parent, std::stop_token token) override;
};
