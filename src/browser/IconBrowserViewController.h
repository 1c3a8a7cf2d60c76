#pragma once

#include "browser/FlatBrowserController.h"

#include <QFont>
#include <QRect>
#include <QStringList>

class QListView;

// The current folder as a grid of icon cells: each cell shows the type's icon, the name on at
// most two lines and the size of a file. Everything else is the flat browser's.
class IconBrowserViewController : public FlatBrowserController {
    Q_OBJECT
public:
    // A cell and its parts, in the cell's own coordinates (origin top left).
    static constexpr QSize cellSize{100, 110};
    static constexpr int spacing = 10;
    static constexpr QRect imageFrame{22, 14, 56, 56};
    static constexpr int iconSide = 48;
    static constexpr QRect nameFrame{2, 70, 96, 24};
    static constexpr QRect sizeFrame{2, 94, 96, 14};
    static constexpr int nameLines = 2;

    IconBrowserViewController(std::shared_ptr<FileSystemProvider> fileSystemProvider,
                              NavigationState& navigationState,
                              std::shared_ptr<TransferManager> transferManager,
                              FavoritesManager* favoritesManager, ClipboardManager* clipboardManager,
                              QWidget* parent = nullptr);

    QListView* collectionView() const;
    // The lines a name is drawn on: wrapped at word boundaries where it can be, and when it needs
    // more than two lines, the second ends with the name's end after an ellipsis in its middle.
    static QStringList nameLayout(const QString& name, const QFont& font, int width);

protected:
    QString viewName() const override { return QStringLiteral("Icon view"); }
    bool refusesDropOnFile() const override { return false; }
    bool contextClickAddsToSelection() const override { return true; }
};
