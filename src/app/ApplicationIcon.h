#pragma once

#include <QIcon>

// The application's own icon (our drawing, in the resources) and the name under which the
// desktop knows it: the installed icon file and the desktop entry are named alike, so that menus,
// task bars and window frames all find the same picture.
class ApplicationIcon {
public:
    static constexpr const char* desktopName = "io.halvorn.Orvanta";

    static QIcon icon();

    ApplicationIcon() = delete;
};
