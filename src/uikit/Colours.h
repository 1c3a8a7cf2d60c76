#pragma once

// The named colours of the windows, taken from the palette so that they follow the desktop's
// light or dark scheme. Secondary and tertiary labels are the text colour made translucent.

#include <QColor>
#include <QPalette>

class QWidget;

class Colours {
public:
    enum class Label { primary, secondary, tertiary };

    static QColor label(const QPalette& palette, Label level = Label::primary,
                        QPalette::ColorGroup group = QPalette::Active);
    static QColor secondaryLabel(const QPalette& palette) { return label(palette, Label::secondary); }
    static QColor tertiaryLabel(const QPalette& palette) { return label(palette, Label::tertiary); }
    static QColor accent(const QPalette& palette) { return palette.color(QPalette::Highlight); }
    static QColor link(const QPalette& palette) { return palette.color(QPalette::Link); }
    static QColor separator(const QPalette& palette) { return palette.color(QPalette::Mid); }

    // Gives a widget's text the label colour in every colour group, each derived from that
    // group's own text colour, so that a disabled or inactive label keeps its look.
    static void setLabelColour(QWidget* widget, Label level);

    Colours() = delete;
};
