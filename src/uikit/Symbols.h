#pragma once

#include <QIcon>
#include <QString>

// The system symbols the windows name, as icons of the desktop's theme. The symbol's name is kept
// beside the icon (as a property of the widget that shows it), so that tests read names, never
// pixels.
class Symbols {
public:
    static constexpr const char* symbolNameProperty = "orvantaSymbolName";

    // The freedesktop icon names for a symbol, best first; empty for a symbol we do not know.
    static QStringList themeNames(const QString& symbol);
    // A null icon for an unknown symbol or one the theme lacks.
    static QIcon icon(const QString& symbol);

    Symbols() = delete;
};
