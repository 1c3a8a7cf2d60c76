#pragma once

#include <QObject>

class QAbstractButton;

// A button that has the keyboard answers Space and Return (Enter) as a click, before any shortcut
// of its window with the same key: Space is the main window's Quick Look key everywhere else.
class ButtonKeys : public QObject {
public:
    static void install(QAbstractButton* button);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
};
