#pragma once

// The fonts of the windows. A size given for a view is in logical pixels (one design point is
// one pixel), never in points: a 12-point font is 16 pixels at 96 dpi and no longer fits a
// 20-pixel row. The system font is the application's font.

#include <QFont>

class Fonts {
public:
    // The weights the views name, as the designs name them.
    enum class Weight { light, regular, medium, semibold, bold };

    static QFont system(int pixelSize, Weight weight = Weight::regular);
    static QFont::Weight qtWeight(Weight weight);

    Fonts() = delete;
};
