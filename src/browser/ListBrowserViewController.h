#pragma once

#include "browser/FlatBrowserController.h"

#include <optional>

class QTableView;

// The current folder as a table of Name, Date Modified, Size and Kind. A click on a header sorts
// the rows by that column (a second click reverses); the sort is not kept for the next listing,
// which comes in the provider's order while the header still shows its indicator.
class ListBrowserViewController : public FlatBrowserController {
    Q_OBJECT
public:
    enum Column { nameColumn = 0, dateColumn, sizeColumn, kindColumn, columnCount };
    static constexpr int rowHeight = 22;
    static constexpr int nameMinimumWidth = 150;

    struct SortDescriptor {
        Column column = nameColumn;
        bool ascending = true;
    };

    ListBrowserViewController(std::shared_ptr<FileSystemProvider> fileSystemProvider,
                              NavigationState& navigationState,
                              std::shared_ptr<TransferManager> transferManager,
                              FavoritesManager* favoritesManager, ClipboardManager* clipboardManager,
                              QWidget* parent = nullptr);

    QTableView* tableView() const;
    const std::optional<SortDescriptor>& sortDescriptor() const { return m_sort; }
    // What a click on a header does; nothing for Kind.
    void headerClicked(int column);
    // Whether a comes before b under the descriptor; ties keep their order.
    static bool compareItems(const FileItem& a, const FileItem& b, const SortDescriptor& descriptor);
    // The width a column starts at.
    static int initialWidth(Column column);
    // Room a cell's text needs beyond the text itself (its margins on both sides).
    static constexpr int dateCellPadding = 16;
    // The Date Modified column's width: its longest date in the list's font, at least 160.
    static int dateColumnWidth();
    // Shrinks Name (down to its minimum) while the columns are wider than the view, and lets it
    // grow back to the user's width.
    void fitColumns();

protected:
    QString viewName() const override { return QStringLiteral("List view"); }
    bool refusesDropOnFile() const override { return true; }
    void didShowListing() override;
    bool contextClickAddsToSelection() const override { return false; }

private:
    void showSortIndicator();

    std::optional<SortDescriptor> m_sort;
    int m_nameWidth = 300;
    bool m_fittingColumns = false;
};
