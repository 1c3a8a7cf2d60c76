#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class QAbstractButton;
class QButtonGroup;

// A row of joined buttons of which at most one is selected (the toolbar's view modes). Only a
// user's click is reported: the owner keeps the control in step with its model through
// setSelectedSegment(), which reports nothing, so following the model can never feed back into it.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    struct Segment {
        // A symbol name for Symbols::icon.
        QString symbolName;
        // Read out by assistive tools and shown as the tool tip.
        QString accessibleName;
    };

    // No selection: what selectedSegment() answers while no segment is selected.
    static constexpr int noSegment = -1;

    explicit SegmentedControl(const QList<Segment>& segments, QWidget* parent = nullptr);

    int segmentCount() const { return int(m_buttons.size()); }
    // The selected segment's index, or noSegment.
    int selectedSegment() const;
    // Selects the segment without reporting it; an index out of range selects none.
    void setSelectedSegment(int index);
    QAbstractButton* button(int index) const;

signals:
    // The user clicked a segment (it is selected by then).
    void segmentClicked(int index);

private:
    QButtonGroup* m_group = nullptr;
    QList<QAbstractButton*> m_buttons;
};
