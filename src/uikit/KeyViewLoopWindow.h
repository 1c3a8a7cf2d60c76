#pragma once

#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <functional>

// A main window whose Tab and Shift+Tab go round its parts in an order the owner gives, rather
// than in the order the widgets happened to be made (lists made later, a row of buttons rebuilt on
// every change). Each stop is an area and the widget inside it that takes the keyboard when Tab
// arrives: a whole browser is one stop, entered at its list of choice. Keyboard focus outside
// every stop follows Qt's own order.
class KeyViewLoopWindow : public QMainWindow {
public:
    struct Stop {
        QPointer<QWidget> area;
        QPointer<QWidget> target;
    };

    using QMainWindow::QMainWindow;

    // The stops in order, asked at each Tab; those hidden, disabled or of no size are passed over.
    std::function<QList<Stop>()> keyViews;

protected:
    bool focusNextPrevChild(bool next) override;
};
