#include "uikit/Colours.h"

#include <QWidget>

QColor Colours::label(const QPalette& palette, Label level, QPalette::ColorGroup group) {
    QColor colour = palette.color(group, QPalette::WindowText);
    // Multiplied rather than set: a scheme whose text is already translucent stays lighter.
    switch (level) {
    case Label::primary:
        break;
    case Label::secondary:
        colour.setAlphaF(colour.alphaF() * 0.55f);
        break;
    case Label::tertiary:
        colour.setAlphaF(colour.alphaF() * 0.30f);
        break;
    }
    return colour;
}

void Colours::setLabelColour(QWidget* widget, Label level) {
    QPalette palette = widget->palette();
    const QPalette source = palette;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::WindowText, label(source, level, group));
    }
    widget->setPalette(palette);
}
