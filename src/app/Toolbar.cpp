#include "app/Toolbar.h"

#include "platform/Logger.h"
#include "uikit/ButtonKeys.h"
#include "uikit/SegmentedControl.h"
#include "uikit/Symbols.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

namespace {

constexpr QSize itemIconSize(18, 18);
constexpr int searchFieldWidth = 200;

QToolButton* makeButton(const QString& objectName, const QString& symbol, const QString& accessibleName,
                        const QString& toolTip = {}) {
    auto* button = new QToolButton;
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setIcon(Symbols::icon(symbol));
    button->setIconSize(itemIconSize);
    button->setProperty(Symbols::symbolNameProperty, symbol);
    button->setAccessibleName(accessibleName);
    button->setToolTip(toolTip);
    ButtonKeys::install(button);
    return button;
}

// The item's label, as the platform shows it under an item in the label display modes.
void setItemLabel(QWidget* item, const QString& label) {
    item->setProperty("orvantaItemLabel", label);
}

} // namespace

QStringList Toolbar::defaultItemIdentifiers() {
    return {backForwardItem, flexibleSpaceItem, viewModeItem,      searchFieldItem,
            copyButtonItem,  previewToggleItem, transferCenterItem};
}

QStringList Toolbar::allowedItemIdentifiers() {
    return {backForwardItem,   viewModeItem,       searchFieldItem,  copyButtonItem,
            previewToggleItem, transferCenterItem, flexibleSpaceItem};
}

Toolbar::Toolbar(QWidget* parent) : QToolBar(parent) {
    setObjectName(QString(identifier));
    setMovable(false);
    setFloatable(false);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setContextMenuPolicy(Qt::PreventContextMenu);
    setIconSize(itemIconSize);
    for (const QString& name : defaultItemIdentifiers()) {
        if (QWidget* widget = makeItem(name)) {
            addWidget(widget);
            m_items.append(widget);
        }
    }
}

QWidget* Toolbar::makeItem(const QString& name) {
    if (name == backForwardItem) {
        auto* group = new QWidget;
        group->setObjectName(name);
        setItemLabel(group, QStringLiteral("Navigation"));
        auto* layout = new QHBoxLayout(group);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        // Enabled while their history has somewhere to go (setHistory), and drawn so that this
        // shows at a glance under every desktop: dark when enabled, plainly grey when not.
        m_backButton =
            makeButton(QStringLiteral("backButton"), QStringLiteral("chevron.left"), QStringLiteral("Back"));
        m_forwardButton = makeButton(QStringLiteral("forwardButton"), QStringLiteral("chevron.right"),
                                     QStringLiteral("Forward"));
        m_backButton->setIcon(Symbols::templateIcon(QStringLiteral("chevron.left")));
        m_forwardButton->setIcon(Symbols::templateIcon(QStringLiteral("chevron.right")));
        setHistory(false, false);
        connect(m_backButton, &QToolButton::clicked, this, [this] {
            if (onBackForward)
                onBackForward(0);
        });
        connect(m_forwardButton, &QToolButton::clicked, this, [this] {
            if (onBackForward)
                onBackForward(1);
        });
        layout->addWidget(m_backButton);
        layout->addWidget(m_forwardButton);
        return group;
    }
    if (name == viewModeItem) {
        // In the order of the view modes' raw values: the segment is the mode.
        m_viewModeControl =
            new SegmentedControl({{QStringLiteral("square.grid.2x2"), QStringLiteral("Icons")},
                                  {QStringLiteral("list.bullet"), QStringLiteral("List")},
                                  {QStringLiteral("rectangle.split.3x1"), QStringLiteral("Columns")}});
        m_viewModeControl->setObjectName(name);
        setItemLabel(m_viewModeControl, QStringLiteral("View"));
        m_viewModeControl->setSelectedSegment(2);
        connect(m_viewModeControl, &SegmentedControl::segmentClicked, this, [this](int segment) {
            if (onViewMode)
                onViewMode(segment);
        });
        return m_viewModeControl;
    }
    if (name == searchFieldItem) {
        m_searchField = new QLineEdit;
        m_searchField->setObjectName(name);
        m_searchField->setPlaceholderText(QStringLiteral("Search"));
        m_searchField->setClearButtonEnabled(true);
        m_searchField->setFixedWidth(searchFieldWidth);
        setItemLabel(m_searchField, QStringLiteral("Search"));
        // textEdited, not textChanged: the field emptied by navigation must not write the query
        // it is following (the clear button counts as the user's edit).
        connect(m_searchField, &QLineEdit::textEdited, this, [this](const QString& text) {
            if (onSearch)
                onSearch(text);
        });
        m_searchField->installEventFilter(this);
        return m_searchField;
    }
    if (name == copyButtonItem) {
        m_copyButton =
            makeButton(name, QStringLiteral("square.and.arrow.down"), QStringLiteral("Copy to Computer"),
                       QStringLiteral("Copy selected files to this computer"));
        setItemLabel(m_copyButton, QStringLiteral("Copy"));
        connect(m_copyButton, &QToolButton::clicked, this, [this] {
            if (onCopy)
                onCopy();
        });
        return m_copyButton;
    }
    if (name == previewToggleItem) {
        m_previewToggle = makeButton(name, QStringLiteral("sidebar.right"), QStringLiteral("Toggle Preview"),
                                     QStringLiteral("Show or hide the preview pane"));
        setItemLabel(m_previewToggle, QStringLiteral("Preview"));
        connect(m_previewToggle, &QToolButton::clicked, this, [this] {
            if (onTogglePreview)
                onTogglePreview();
        });
        return m_previewToggle;
    }
    if (name == transferCenterItem) {
        m_transferCenterButton = makeButton(name, QStringLiteral("tray.full"), QStringLiteral("Transfers"),
                                            QStringLiteral("Show transfer history and reports"));
        setItemLabel(m_transferCenterButton, QStringLiteral("Transfers"));
        connect(m_transferCenterButton, &QToolButton::clicked, this, [this] {
            if (onShowTransferCenter)
                onShowTransferCenter();
        });
        return m_transferCenterButton;
    }
    if (name == flexibleSpaceItem) {
        auto* space = new QWidget;
        space->setObjectName(name);
        space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        return space;
    }
    return nullptr;
}

QWidget* Toolbar::item(const QString& name) const {
    for (QWidget* widget : m_items) {
        if (widget->objectName() == name)
            return widget;
    }
    return nullptr;
}

QStringList Toolbar::itemIdentifiers() const {
    QStringList names;
    for (QAction* action : actions()) {
        if (const QWidget* widget = widgetForAction(action))
            names << widget->objectName();
    }
    return names;
}

QList<KeyViewLoopWindow::Stop> Toolbar::keyViews() const {
    QList<KeyViewLoopWindow::Stop> stops;
    for (QWidget* item : {static_cast<QWidget*>(m_backButton), static_cast<QWidget*>(m_forwardButton)})
        stops.append(KeyViewLoopWindow::Stop{item, item});
    const int shown = m_viewModeControl->selectedSegment();
    QAbstractButton* entry = m_viewModeControl->button(shown >= 0 ? shown : 0);
    // Qt leaves Tab to the one button of an exclusive group that had the keyboard last (the first
    // segment, say, which a window activated with Back and Forward disabled gives it to); the stop
    // is entered at the mode shown, so that segment takes Tab.
    entry->setFocusPolicy(Qt::FocusPolicy(entry->focusPolicy() | Qt::TabFocus));
    stops.append(KeyViewLoopWindow::Stop{m_viewModeControl, entry});
    for (QWidget* item :
         {static_cast<QWidget*>(m_searchField), static_cast<QWidget*>(m_copyButton),
          static_cast<QWidget*>(m_previewToggle), static_cast<QWidget*>(m_transferCenterButton)})
        stops.append(KeyViewLoopWindow::Stop{item, item});
    return stops;
}

void Toolbar::selectViewMode(int rawValue) {
    m_viewModeControl->setSelectedSegment(rawValue);
}

void Toolbar::setHistory(bool canGoBack, bool canGoForward) {
    if (m_backButton->isEnabled() == canGoBack && m_forwardButton->isEnabled() == canGoForward)
        return;
    m_backButton->setEnabled(canGoBack);
    m_forwardButton->setEnabled(canGoForward);
    Logger::ui().debug("Toolbar: Back %s, Forward %s", canGoBack ? "enabled" : "disabled",
                       canGoForward ? "enabled" : "disabled");
}

void Toolbar::clearSearchField() {
    if (m_searchField->text().isEmpty())
        return;
    // Signals stay on: the field's own clear button hides on its textChanged. Clearing from code
    // sends no textEdited, so nothing is reported back.
    m_searchField->clear();
}

bool Toolbar::event(QEvent* event) {
    const bool handled = QToolBar::event(event);
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
        // After the layout pass that the event starts has placed the buttons.
        QMetaObject::invokeMethod(this, &Toolbar::reportCopyButtonPosition, Qt::QueuedConnection);
        break;
    default:
        break;
    }
    return handled;
}

bool Toolbar::eventFilter(QObject* watched, QEvent* event) {
    // Escape empties the search field, as the desktop's search fields do; the emptying is the
    // user's edit, so the query follows it.
    if (watched == m_searchField && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !m_searchField->text().isEmpty()) {
        m_searchField->clear();
        if (onSearch)
            onSearch(QString());
        return true;
    }
    return QToolBar::eventFilter(watched, event);
}

// Copy and the preview toggle have no shortcut (only Tab reaches them), so whoever drives the window
// from outside (the screenshot walk-through) clicks them; the debug log says where.
void Toolbar::reportCopyButtonPosition() {
    if (!m_copyButton || !m_copyButton->isVisible())
        return;
    const QPoint centre = m_copyButton->mapTo(window(), m_copyButton->rect().center());
    if (centre == m_reportedCopyPosition)
        return;
    m_reportedCopyPosition = centre;
    Logger::ui().debug("Toolbar: Copy button at %d,%d in the window", centre.x(), centre.y());
    if (m_previewToggle) {
        const QPoint toggle = m_previewToggle->mapTo(window(), m_previewToggle->rect().center());
        Logger::ui().debug("Toolbar: Preview button at %d,%d in the window", toggle.x(), toggle.y());
    }
}
