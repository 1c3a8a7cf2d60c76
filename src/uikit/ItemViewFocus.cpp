#include "uikit/ItemViewFocus.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>

namespace {

constexpr const char* emphasizedProperty = "orvantaSelectionEmphasized";

} // namespace

ItemViewFocus::ItemViewFocus(QAbstractItemView* view) : QObject(view), m_view(view) {}

void ItemViewFocus::install(QAbstractItemView* view) {
    auto* focus = new ItemViewFocus(view);
    view->installEventFilter(focus);
    focus->setEmphasized(view->hasFocus());
}

bool ItemViewFocus::isEmphasized(const QAbstractItemView* view) {
    return view->property(emphasizedProperty).toBool();
}

QColor ItemViewFocus::unemphasizedHighlight(const QPalette& palette) {
    // A grey that stands off the list's background in a light scheme as in a dark one.
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    const QColor text = palette.color(QPalette::Active, QPalette::Text);
    constexpr double share = 0.2;
    return QColor::fromRgbF(float(base.redF() * (1 - share) + text.redF() * share),
                            float(base.greenF() * (1 - share) + text.greenF() * share),
                            float(base.blueF() * (1 - share) + text.blueF() * share));
}

void ItemViewFocus::setEmphasized(bool emphasized) {
    if (m_view->property(emphasizedProperty).isValid() && isEmphasized(m_view) == emphasized)
        return;
    m_view->setProperty(emphasizedProperty, emphasized);
    const QPalette standard = QApplication::palette(m_view);
    QPalette palette = m_view->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Highlight,
                         emphasized ? standard.color(group, QPalette::Highlight)
                                    : unemphasizedHighlight(standard));
        palette.setColor(group, QPalette::HighlightedText,
                         standard.color(group, emphasized ? QPalette::HighlightedText : QPalette::Text));
    }
    m_view->setPalette(palette);
}

void ItemViewFocus::currentFromSelection(bool downwards) {
    QItemSelectionModel* selection = m_view->selectionModel();
    if (!selection)
        return;
    const QModelIndex current = selection->currentIndex();
    const QModelIndexList rows = selection->selectedRows();
    if (rows.isEmpty()) {
        if (current.isValid())
            selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return;
    }
    if (current.isValid() && selection->isRowSelected(current.row(), current.parent()))
        return;
    // In the order shown: rows of an outline compare by their place on screen.
    const auto above = [this](const QModelIndex& a, const QModelIndex& b) {
        return m_view->visualRect(a).top() < m_view->visualRect(b).top();
    };
    const QModelIndex target = downwards ? *std::max_element(rows.begin(), rows.end(), above)
                                         : *std::min_element(rows.begin(), rows.end(), above);
    selection->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
}

bool ItemViewFocus::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_view)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::FocusIn:
        setEmphasized(true);
        // Before the list's own handling, which would make the first row current.
        currentFromSelection(true);
        break;
    case QEvent::FocusOut:
        // A context menu over the list leaves the keyboard where it was.
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
            setEmphasized(false);
        break;
    case QEvent::KeyPress:
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Down:
        case Qt::Key_PageDown:
            currentFromSelection(true);
            break;
        case Qt::Key_Up:
        case Qt::Key_PageUp:
            currentFromSelection(false);
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
