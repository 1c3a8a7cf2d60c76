#include "uikit/Fonts.h"

#include <QGuiApplication>

#include <algorithm>

QFont Fonts::system(int pixelSize, Weight weight) {
    QFont font = QGuiApplication::font();
    // Qt refuses a size below one pixel with a warning and keeps the old one, which would be
    // the application's point size: a tiny label would come out full size.
    font.setPixelSize(std::max(pixelSize, 1));
    font.setWeight(qtWeight(weight));
    return font;
}

QFont::Weight Fonts::qtWeight(Weight weight) {
    switch (weight) {
    case Weight::light:
        return QFont::Light;
    case Weight::regular:
        return QFont::Normal;
    case Weight::medium:
        return QFont::Medium;
    case Weight::semibold:
        return QFont::DemiBold;
    case Weight::bold:
        return QFont::Bold;
    }
    return QFont::Normal;
}
