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
        // Shown as the dialog's title; none leaves the platform's.
        QString message;
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
