#include "browser/IconBrowserViewController.h"

#include "browser/FileItemListModel.h"
#include "browser/FlatItemView.h"
#include "browser/OrvantaDragMimeData.h"
#include "uikit/Colours.h"
#include "uikit/Fonts.h"
#include "uikit/ItemViewFocus.h"

#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QTextLayout>

namespace {

// One cell of the grid, drawn from the model's roles: the icon, up to two lines of name and the
// size, a tinted rounded background while selected and the whole cell at the item's alpha. Qt's
// list view draws every cell through one such delegate instead of keeping a widget per cell, so
// reuse and reconfiguring for a new item come with it.
class FileItemCollectionViewItem : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return IconBrowserViewController::cellSize;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setOpacity(index.data(FileItemListModel::AlphaRole).toDouble());
        painter->translate(option.rect.topLeft());
        const QPalette& palette = option.palette;
        if (option.state & QStyle::State_Selected) {
            QColor tint = Colours::accent(palette);
            tint.setAlphaF(0.2f);
            QPainterPath background;
            background.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(IconBrowserViewController::cellSize)), 6,
                                      6);
            painter->fillPath(background, tint);
        }
        const QIcon icon = FlatBrowserController::itemIcon(index);
        const int side = IconBrowserViewController::iconSide;
        const QRect& frame = IconBrowserViewController::imageFrame;
        const QRect iconRect(frame.x() + (frame.width() - side) / 2, frame.y() + (frame.height() - side) / 2,
                             side, side);
        icon.paint(painter, iconRect);

        const QFont nameFont = Fonts::system(11);
        painter->setFont(nameFont);
        painter->setPen(Colours::label(palette));
        const QRect& nameRect = IconBrowserViewController::nameFrame;
        const QStringList lines = IconBrowserViewController::nameLayout(
            index.data(Qt::DisplayRole).toString(), nameFont, nameRect.width());
        const int lineHeight = QFontMetrics(nameFont).height();
        for (int line = 0; line < lines.size(); ++line) {
            const QRect lineRect(nameRect.left(), nameRect.top() + line * lineHeight, nameRect.width(),
                                 lineHeight);
            painter->drawText(lineRect, Qt::AlignHCenter | Qt::AlignTop, lines.at(line));
        }
        painter->setFont(Fonts::system(9));
        painter->setPen(Colours::secondaryLabel(palette));
        painter->drawText(IconBrowserViewController::sizeFrame, Qt::AlignCenter,
                          index.data(FileItemListModel::SizeTextRole).toString());
        painter->restore();
    }
};

class IconCollectionView : public FlatItemView<QListView> {
public:
    using FlatItemView::FlatItemView;

protected:
    // A drop onto an item; the controller sends a drop onto a file into the folder shown.
    std::pair<int, bool> dropTarget(const QPoint& point) const override {
        const QModelIndex index = indexAt(point);
        return {index.isValid() ? index.row() : -1, index.isValid()};
    }
};

} // namespace

IconBrowserViewController::IconBrowserViewController(std::shared_ptr<FileSystemProvider> fileSystemProvider,
                                                     NavigationState& navigationState,
                                                     std::shared_ptr<TransferManager> transferManager,
                                                     FavoritesManager* favoritesManager,
                                                     ClipboardManager* clipboardManager, QWidget* parent)
    : FlatBrowserController(std::move(fileSystemProvider), navigationState, std::move(transferManager),
                            favoritesManager, clipboardManager, parent) {
    setObjectName(QStringLiteral("iconBrowserView"));
    auto* view = new IconCollectionView;
    view->setObjectName(QStringLiteral("iconCollectionView"));
    view->controller = this;
    view->setViewMode(QListView::IconMode);
    // Qt would otherwise let icons be dragged about, and take the drops for that.
    view->setMovement(QListView::Static);
    view->setResizeMode(QListView::Adjust);
    view->setUniformItemSizes(true);
    view->setSpacing(spacing);
    view->setWrapping(true);
    view->setFlow(QListView::LeftToRight);
    view->setItemDelegate(new FileItemCollectionViewItem(view));
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setFrameShape(QFrame::NoFrame);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setDragEnabled(true);
    view->setAcceptDrops(true);
    view->viewport()->setAcceptDrops(true);
    view->setDragDropMode(QAbstractItemView::DragDrop);
    view->setBackgroundRole(QPalette::Base);
    view->setFocusPolicy(Qt::StrongFocus);
    ItemViewFocus::install(view);
    attachItemView(view, new FileItemListModel(this), &view->keys);
}

QListView* IconBrowserViewController::collectionView() const {
    return static_cast<QListView*>(itemView());
}

QStringList IconBrowserViewController::nameLayout(const QString& name, const QFont& font, int width) {
    QTextLayout layout(name, font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    int secondStart = -1;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == nameLines - 1) {
            secondStart = line.textStart();
            break;
        }
        lines.append(name.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    if (secondStart >= 0) {
        const QString rest = name.mid(secondStart);
        lines.append(QFontMetrics(font).elidedText(rest, Qt::ElideMiddle, width));
    }
    return lines;
}
