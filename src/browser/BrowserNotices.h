#pragma once

#include "platform/Subscription.h"
#include "platform/URL.h"

#include <functional>
#include <optional>
#include <vector>

class NavigationState;
class QObject;

// What every browser follows: the navigation's current path and its search text, each handed on
// at the event loop's next turn, and the transfer engine's word that files on a device were
// deleted or uploaded. The column browser and the list and icon browsers each say what they do
// on each; a handler runs only while the browser it was set up for is there.
struct BrowserNotices {
    // Also with no path (std::nullopt): the browser decides what that leaves on screen.
    std::function<void(const std::optional<URL>& path)> onPath;
    std::function<void()> onSearch;
    std::function<void()> onDeviceFilesChanged;

    // Starts following for browser; the subscriptions are appended to into and end with it.
    void follow(QObject* browser, NavigationState& navigation, std::vector<Subscription>& into) const;
};
