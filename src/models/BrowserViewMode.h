#pragma once

#include <array>
#include <optional>

// How a folder is shown. The numbers are the stored form of the user's choice.
enum class BrowserViewMode : int { icon = 0, list = 1, column = 2 };

inline constexpr std::array<BrowserViewMode, 3> allBrowserViewModes{
    BrowserViewMode::icon, BrowserViewMode::list, BrowserViewMode::column};

// Nothing for a number that is no mode, so a stored value from elsewhere cannot make one up.
constexpr std::optional<BrowserViewMode> browserViewModeFromRawValue(int rawValue) {
    for (const BrowserViewMode mode : allBrowserViewModes) {
        if (static_cast<int>(mode) == rawValue)
            return mode;
    }
    return std::nullopt;
}
