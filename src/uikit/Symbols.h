#pragma once

#include <QIcon>
#include <QString>

// The system symbols the windows name, as icons of the desktop's theme, or as drawings of our own
// where the theme has none (several are missing from common themes, and a test run has no theme
// at all). The symbol's name is kept beside the icon (as a property of the widget that shows it),
// so that tests read names, never pixels.
class Symbols {
public:
    static constexpr const char* symbolNameProperty = "orvantaSymbolName";

    // The freedesktop icon names for a symbol, best first; empty for a symbol we do not know.
    static QStringList themeNames(const QString& symbol);
    // The theme's icon, else our own drawing; a null icon for an unknown symbol.
    static QIcon icon(const QString& symbol);
    // Our own drawing of a symbol; a null icon for an unknown symbol.
    static QIcon bundledIcon(const QString& symbol);
    // A symbol drawn as a control's label is: our drawing's shape in the palette's button-text
    // colour, and in its disabled button-text colour (plainly grey) when the control is disabled.
    // For controls whose enabled state must show at a glance under every desktop: a theme's icon
    // may be a pale full-colour picture that looks disabled either way (Adwaita's go-previous).
    static QIcon templateIcon(const QString& symbol);
    // The icon of a file type: the theme's icon for the MIME type, else its generic icon, else our
    // own folder or document.
    static QIcon fileTypeIcon(const QString& mimeTypeName, bool isDirectory);

    Symbols() = delete;
};
