#pragma once

#include "models/FileItem.h"
#include "platform/URL.h"

#include <QAbstractListModel>
#include <QIcon>
#include <QItemSelection>
#include <QList>
#include <QSet>

class QItemSelectionModel;

// The one list of file items under every browser: each view draws its rows from the roles, so
// the views differ in layout only and tests read roles, never pixels.
class FileItemListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        FileItemRole = Qt::UserRole + 1,
        // 0.4 for an item on the clipboard for cutting, else 1.0.
        AlphaRole,
        // The byte count of a file; "" for a folder (each view shows its own folder text).
        SizeTextRole,
        KindTextRole,
        // The icon's name: "folder" for folders, else the content type's icon name.
        SymbolNameRole,
        PathRole,
    };

    static constexpr double cutAlpha = 0.4;

    explicit FileItemListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const QList<FileItem>& items() const { return m_items; }
    // Shows these items. Rows the list starts and ends with as before stay, with their selection
    // and the view's current row and scroll position; those between are removed and inserted. A
    // list with nothing in common with the one shown replaces it wholesale, and views lose their
    // selection with it (see reselect()).
    void setItems(QList<FileItem> items);
    // setItems, then reselect() of the given paths, with the selection model's signals blocked
    // throughout: rows removed and inserted around the selection report no change nobody made.
    // Returns the rows selected, ascending.
    QList<int> showItems(QList<FileItem> items, QItemSelectionModel* selection,
                         const QList<URL>& selectedPaths);
    // The same, with the rows of these items' paths selected.
    QList<int> showItems(QList<FileItem> items, QItemSelectionModel* selection,
                         const QList<FileItem>& selected);
    std::optional<FileItem> item(int row) const;
    // The first row whose item lives at path, or -1.
    int rowOf(const URL& path) const;

    // The locations drawn dimmed; only the rows whose state changed are redrawn.
    void setCutURLs(QSet<URL> urls);
    const QSet<URL>& cutURLs() const { return m_cutURLs; }

    // Selects the rows whose items live at the given paths, with the selection model's signals
    // blocked: after a reload the same files stay selected without the view reporting a change
    // nobody made. Returns the rows selected, ascending.
    QList<int> reselect(QItemSelectionModel* selection, const QList<URL>& paths) const;
    // The same by the items' paths: a Select All of 100,000 items copies no path to carry it.
    QList<int> reselect(QItemSelectionModel* selection, const QList<FileItem>& items) const;
    // Whole rows as a selection of runs: one range for each stretch of adjacent rows, never one
    // a row. Qt's selection model compares ranges pairwise when it merges, and its views ask it
    // about every range for every row they draw, so a Select All of 50,000 rows kept as 50,000
    // ranges freezes the window for many seconds. rows must be ascending without repeats.
    static QItemSelection rowRuns(const QAbstractItemModel* model, const QList<int>& rows);
    // The selected items in row order.
    QList<FileItem> selectedItems(const QItemSelectionModel* selection) const;
    // The rows selected, ascending, each once.
    QList<int> selectedRows(const QItemSelectionModel* selection) const;

    static QString symbolName(const FileItem& item);
    // Whether two lists show the same items in the same order with the same facts: items compare
    // by id alone, and a reload that changed a size or a date must still count as a change.
    static bool sameItems(const QList<FileItem>& a, const QList<FileItem>& b);
    static bool sameItem(const FileItem& a, const FileItem& b);
    static QIcon icon(const FileItem& item);

private:
    QList<int> reselectBy(QItemSelectionModel* selection, qsizetype count,
                          const std::function<const URL&(qsizetype)>& pathAt) const;

    QList<FileItem> m_items;
    QSet<URL> m_cutURLs;
};

// FileItemRole holds the item this way: a variant needs a type it can make empty.
Q_DECLARE_METATYPE(std::optional<FileItem>)
