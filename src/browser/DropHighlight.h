#pragma once

#include "browser/RowDropRules.h"

#include <QRect>

class QWidget;

// What a drop hovering over a browser's rows would do, drawn as an accent frame around the row it
// goes into (or around the whole view for the folder shown), with a plus badge when it copies:
// the pointer always shows a copy, since other programs must never be offered a move.
struct DropHighlight {
    RowDropRules::Operation operation = RowDropRules::Operation::none;
    // -1: the whole view.
    int row = -1;
    bool operator==(const DropHighlight&) const = default;
};

// Draws the highlight on the viewport, framing area.
void paintDropHighlight(QWidget* viewport, const QRect& area, RowDropRules::Operation operation);
