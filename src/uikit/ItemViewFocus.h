#pragma once

#include <QObject>

class QAbstractItemView;
class QColor;
class QPalette;

// What the keyboard focus means to a list: the list that has it draws its selection in the
// accent colour and the others in grey, so the user sees which list the arrows move; and the
// arrows go on from the row shown selected. Qt's own current row is forgotten when a list is
// listed again and is never set when rows are selected from code, so without this Down would
// start from the top, or from a row nobody sees.
class ItemViewFocus : public QObject {
public:
    // Follows the view's focus and keys for as long as the view lives.
    static void install(QAbstractItemView* view);
    // Whether the view draws its selection as the one the keyboard acts on.
    static bool isEmphasized(const QAbstractItemView* view);
    // The selection colour of a list without the keyboard.
    static QColor unemphasizedHighlight(const QPalette& palette);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit ItemViewFocus(QAbstractItemView* view);
    void setEmphasized(bool emphasized);
    // Makes a selected row the current one when the current row is not selected: the last one
    // for a move down, the first for a move up. With nothing selected, no row is current, so
    // the next move starts at the top.
    void currentFromSelection(bool downwards);

    QAbstractItemView* m_view;
};
