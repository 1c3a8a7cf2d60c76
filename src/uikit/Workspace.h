#pragma once

#include "platform/URL.h"
#include "uikit/AlertPresenter.h"

#include <functional>

// Hands files to the desktop: reveal one in the file manager, open one with its application.
// A device location is never handed over (no other program can read it): it is logged and beeps.
class Workspace {
public:
    // The file manager's ShowItems over D-Bus; when no file manager answers, its folder opens.
    // failed runs (later, on the main thread) when neither could be done.
    static void reveal(const URL& url, std::function<void()> failed = {});
    // Opens the file or web address with the desktop's application for it; false when the
    // desktop has nothing to open it with (or it is a device location).
    static bool open(const URL& url);
    // What the user is told when open() could not: message, then that no application on this
    // computer could open name.
    static AlertRequest openFailedAlert(const QString& message, const QString& name);
    // What the user is told when reveal() could not: message, then that no file manager on this
    // computer could show name.
    static AlertRequest revealFailedAlert(const QString& message, const QString& name);

    // What the desktop is asked to open, for tests; nothing restores the default.
    static void setOpenerForTesting(std::function<bool(const URL&)> opener);

    Workspace() = delete;
};
