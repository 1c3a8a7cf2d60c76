#pragma once

#include "platform/URL.h"

#include <QList>
#include <QScrollArea>

#include <functional>

class QWidget;

// The scrolling area of a browser, taking other programs' files dropped on its empty stretch (no
// row under the pointer): it draws a two-pixel accent border while such files hover, and hands
// their URLs to onDrop. Our own drags are refused here: their rows go where the row rules send
// them, and their outside form would start copying device items out for nothing.
class DropAcceptingScrollView : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int highlightWidth = 2;

    explicit DropAcceptingScrollView(QWidget* parent = nullptr);

    std::function<void(const QList<URL>&)> onDrop;

    bool isHighlighted() const { return m_highlighted; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setHighlighted(bool highlighted);

    QWidget* m_border;
    bool m_highlighted = false;
};
