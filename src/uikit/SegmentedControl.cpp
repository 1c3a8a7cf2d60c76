#include "uikit/SegmentedControl.h"

#include "uikit/ButtonKeys.h"
#include "uikit/Symbols.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QToolButton>

SegmentedControl::SegmentedControl(const QList<Segment>& segments, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // Separated segments, as the toolbar shows them.
    layout->setSpacing(2);
    m_group = new QButtonGroup(this);
    m_group->setExclusive(true);
    for (int i = 0; i < segments.size(); ++i) {
        auto* button = new QToolButton;
        button->setObjectName(QStringLiteral("segment-%1").arg(i));
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setIcon(Symbols::icon(segments[i].symbolName));
        button->setIconSize(QSize(16, 16));
        button->setProperty(Symbols::symbolNameProperty, segments[i].symbolName);
        button->setAccessibleName(segments[i].accessibleName);
        button->setToolTip(segments[i].accessibleName);
        ButtonKeys::install(button);
        m_group->addButton(button, i);
        layout->addWidget(button);
        m_buttons.append(button);
    }
    // idClicked comes from the user's clicks only, never from setChecked.
    connect(m_group, &QButtonGroup::idClicked, this, &SegmentedControl::segmentClicked);
}

int SegmentedControl::selectedSegment() const {
    const int id = m_group->checkedId();
    return id >= 0 ? id : noSegment;
}

void SegmentedControl::setSelectedSegment(int index) {
    const QSignalBlocker blocker(m_group);
    if (index >= 0 && index < m_buttons.size()) {
        m_buttons[index]->setChecked(true);
        return;
    }
    // An exclusive group keeps one button checked whatever happens; none is selected only with
    // exclusivity off for the moment.
    m_group->setExclusive(false);
    for (QAbstractButton* button : std::as_const(m_buttons))
        button->setChecked(false);
    m_group->setExclusive(true);
}

QAbstractButton* SegmentedControl::button(int index) const {
    return index >= 0 && index < m_buttons.size() ? m_buttons[index] : nullptr;
}
