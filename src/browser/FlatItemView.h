#pragma once

#include "browser/BrowserKeyHandlers.h"
#include "browser/DropHighlight.h"
#include "browser/FlatBrowserController.h"
#include "uikit/Colours.h"

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <utility>

// The behaviour the icon and the list view share on top of their Qt view: their own keys taken
// before the window's shortcuts, a right click that leaves the selection to the controller's
// context menu, and drags and drops decided by the controller rather than by Qt's item moves.
template <class View> class FlatItemView : public View {
public:
    using View::View;

    BrowserKeyHandlers keys;
    QPointer<FlatBrowserController> controller;

protected:
    // Where a drop at a viewport point lands: the row (-1: none) and whether it is onto the item
    // rather than between items.
    virtual std::pair<int, bool> dropTarget(const QPoint& point) const = 0;

    bool event(QEvent* event) override {
        if (keys.takeShortcutOverride(event))
            return true;
        return View::event(event);
    }

    void keyPressEvent(QKeyEvent* event) override {
        if (!keys.handle(event))
            View::keyPressEvent(event);
    }

    void mousePressEvent(QMouseEvent* event) override {
        // The context menu decides what a right click selects.
        if (event->button() == Qt::RightButton) {
            event->accept();
            return;
        }
        View::mousePressEvent(event);
    }

    void contextMenuEvent(QContextMenuEvent* event) override {
        if (!controller)
            return;
        QMenu* menu = controller->contextMenuAt(event->pos());
        if (menu && !menu->isEmpty())
            menu->popup(event->globalPos());
        event->accept();
    }

    void startDrag(Qt::DropActions) override {
        if (controller)
            controller->startDrag(this);
    }

    void dragEnterEvent(QDragEnterEvent* event) override { dragMoveEvent(event); }

    void dragMoveEvent(QDragMoveEvent* event) override {
        const auto [row, onItem] = dropTarget(event->position().toPoint());
        const Qt::DropAction action =
            controller ? controller->hoverDrop(event->mimeData(), row, onItem, event->modifiers())
                       : Qt::IgnoreAction;
        if (action == Qt::IgnoreAction) {
            event->ignore();
            return;
        }
        event->setDropAction(action);
        event->accept();
    }

    void dragLeaveEvent(QDragLeaveEvent* event) override {
        if (controller)
            controller->setDropHighlight({});
        event->accept();
    }

    void paintEvent(QPaintEvent* event) override {
        View::paintEvent(event);
        if (!controller || controller->dropHighlight().operation == RowDropRules::Operation::none)
            return;
        const DropHighlight& highlight = controller->dropHighlight();
        QRect area = this->viewport()->rect();
        const QAbstractItemModel* model = this->model();
        if (highlight.row >= 0 && model && highlight.row < model->rowCount()) {
            // The whole row of a table, every column it shows.
            area = QRect();
            for (int column = 0; column < model->columnCount(); ++column)
                area = area.united(this->visualRect(model->index(highlight.row, column)));
        }
        paintDropHighlight(this->viewport(), area, highlight.operation);
    }

    void dropEvent(QDropEvent* event) override {
        if (controller)
            controller->setDropHighlight({});
        const auto [row, onItem] = dropTarget(event->position().toPoint());
        if (controller && controller->acceptDrop(event->mimeData(), row, onItem, event->modifiers())) {
            // Our own task moves or copies; Qt must not remove anything from the source view.
            event->setDropAction(Qt::CopyAction);
            event->accept();
            return;
        }
        event->ignore();
    }

};
