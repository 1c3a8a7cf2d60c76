#include "uikit/PathControl.h"

#include "uikit/ButtonKeys.h"
#include "uikit/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>

namespace {

const QString separatorText = QStringLiteral("›");

} // namespace

PathControl::PathControl(QWidget* parent) : QWidget(parent) {
    m_layout = new QHBoxLayout(this);
    m_layout->setContentsMargins(2, 0, 2, 0);
    m_layout->setSpacing(2);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    rebuild();
}

QList<PathControl::Segment> PathControl::segmentsForLocalURL(const URL& url) {
    QList<Segment> result;
    if (url.isEmpty())
        return result;
    QString path = url.isFileURL() ? url.toLocalFile() : url.path();
    if (path.isEmpty())
        return result;
    result.append({QStringLiteral("/"), URL::fileURL(QStringLiteral("/"), true), QStringLiteral("folder")});
    QString sofar;
    for (const QString& component : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        sofar += QLatin1Char('/') + component;
        result.append({component, URL::fileURL(sofar, true), QStringLiteral("folder")});
    }
    return result;
}

void PathControl::setURL(std::optional<URL> url) {
    if (url && url->isEmpty())
        url.reset();
    setSegments(url ? segmentsForLocalURL(*url) : QList<Segment>{}, url);
}

void PathControl::setSegments(QList<Segment> segments, std::optional<URL> url) {
    m_segments = std::move(segments);
    m_url = url ? url : (m_segments.isEmpty() ? std::nullopt : std::optional<URL>(m_segments.last().url));
    setToolTip(m_url ? (m_url->isFileURL() ? m_url->toLocalFile() : m_url->absoluteString()) : QString());
    rebuild();
}

void PathControl::rebuild() {
    // A segment pressed from the keyboard rebuilds the row it is in: the keyboard stays in the
    // row, on the segment that takes the pressed one's place.
    qsizetype focused = -1;
    for (qsizetype i = 0; i < m_buttons.size(); ++i) {
        if (m_buttons[i]->hasFocus())
            focused = i;
    }
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_buttons.clear();
    m_separators.clear();
    auto* ellipsis = new QLabel(QStringLiteral("…"));
    m_layout->addWidget(ellipsis);
    m_ellipsis = ellipsis;
    for (int i = 0; i < m_segments.size(); ++i) {
        if (i > 0) {
            auto* separator = new QLabel(separatorText);
            m_layout->addWidget(separator);
            m_separators.append(separator);
        }
        auto* button = new QToolButton;
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setText(m_segments[i].title);
        button->setObjectName(QStringLiteral("pathSegment-%1").arg(i));
        if (!m_segments[i].symbolName.isEmpty()) {
            button->setIcon(Symbols::icon(m_segments[i].symbolName));
            button->setProperty(Symbols::symbolNameProperty, m_segments[i].symbolName);
        }
        button->setIconSize(QSize(16, 16));
        connect(button, &QToolButton::clicked, this, [this, i] { segmentClicked(i); });
        ButtonKeys::install(button);
        m_layout->addWidget(button);
        m_buttons.append(button);
    }
    m_layout->addStretch(1);
    fitToWidth();
    if (focused >= 0 && !m_buttons.isEmpty()) {
        QToolButton* button = m_buttons[std::min(focused, m_buttons.size() - 1)];
        if (!button->isVisibleTo(this))
            button = m_buttons.last();
        button->setFocus(Qt::OtherFocusReason);
    }
}

void PathControl::fitToWidth() {
    // The folder itself matters most: leading segments go first, the last one always stays.
    const int available = width() - m_layout->contentsMargins().left() - m_layout->contentsMargins().right();
    const int reserve = m_ellipsis->sizeHint().width() + m_layout->spacing();
    int used = 0;
    int firstShown = int(m_buttons.size());
    for (int i = int(m_buttons.size()) - 1; i >= 0; --i) {
        const int needed = m_buttons[i]->sizeHint().width() + m_layout->spacing() +
                           (i > 0 ? m_separators[i - 1]->sizeHint().width() + m_layout->spacing() : 0);
        const bool isLast = i == int(m_buttons.size()) - 1;
        // Showing every segment needs no room for the ellipsis.
        const int room = i == 0 ? available : available - reserve;
        if (!isLast && used + needed > room)
            break;
        used += needed;
        firstShown = i;
    }
    for (int i = 0; i < m_buttons.size(); ++i) {
        m_buttons[i]->setVisible(i >= firstShown);
        if (i > 0)
            m_separators[i - 1]->setVisible(i > firstShown);
    }
    m_ellipsis->setVisible(firstShown > 0);
}

int PathControl::visibleSegmentCount() const {
    int count = 0;
    for (const QToolButton* button : m_buttons)
        count += button->isVisibleTo(this) ? 1 : 0;
    return count;
}

void PathControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitToWidth();
}

void PathControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        if (onSegmentClicked)
            onSegmentClicked(-1, m_url.value_or(URL()));
        if (onClick)
            onClick();
    }
    QWidget::mouseReleaseEvent(event);
}

void PathControl::segmentClicked(int index) {
    if (index < 0 || index >= m_segments.size())
        return;
    // The segment may be rebuilt by the owner's reaction; take a copy first.
    const URL url = m_segments[index].url;
    if (onSegmentClicked)
        onSegmentClicked(index, url);
    if (onClick)
        onClick();
}
