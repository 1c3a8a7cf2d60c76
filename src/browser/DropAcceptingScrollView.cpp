#include "browser/DropAcceptingScrollView.h"

#include "browser/OrvantaDragMimeData.h"
#include "uikit/Colours.h"

#include <QDragEnterEvent>
#include <QPainter>

namespace {

// Drawn over the scrolled contents, where the columns would otherwise hide a border.
class HighlightBorder : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QPen pen(Colours::accent(palette()));
        pen.setWidth(DropAcceptingScrollView::highlightWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        const int inset = DropAcceptingScrollView::highlightWidth / 2;
        painter.drawRect(rect().adjusted(inset, inset, -inset, -inset));
    }
};

} // namespace

DropAcceptingScrollView::DropAcceptingScrollView(QWidget* parent)
    : QScrollArea(parent), m_border(new HighlightBorder(this)) {
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    m_border->setObjectName(QStringLiteral("dropHighlight"));
    m_border->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_border->hide();
}

void DropAcceptingScrollView::setHighlighted(bool highlighted) {
    m_highlighted = highlighted;
    m_border->setGeometry(viewport()->geometry());
    m_border->setVisible(highlighted);
    if (highlighted)
        m_border->raise();
}

void DropAcceptingScrollView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    m_border->setGeometry(viewport()->geometry());
}

void DropAcceptingScrollView::dragEnterEvent(QDragEnterEvent* event) {
    if (!onDrop || readOutsideFileURLs(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    setHighlighted(true);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DropAcceptingScrollView::dragMoveEvent(QDragMoveEvent* event) {
    // The entry decided: asking another program for its data on every move costs a round trip.
    if (!onDrop || !m_highlighted) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DropAcceptingScrollView::dragLeaveEvent(QDragLeaveEvent* event) {
    setHighlighted(false);
    event->accept();
}

void DropAcceptingScrollView::dropEvent(QDropEvent* event) {
    setHighlighted(false);
    const QList<URL> urls = readOutsideFileURLs(event->mimeData());
    if (urls.isEmpty() || !onDrop) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    onDrop(urls);
}
