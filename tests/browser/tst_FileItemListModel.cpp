// The one item model of the browsers: rows re-selected by path after a reload without a change
// being reported, and the cut dimming redrawing exactly the rows whose state changed.

#include "browser/FileItemListModel.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>

namespace {

FileItem fileAt(const QString& name, bool folder = false, quint64 size = 10) {
    const URL url = URL::fileURL(QStringLiteral("/data/") + name, folder);
    return FileItem(url.absoluteString(), name, url, folder, size, Date(0),
                    folder ? FileKind::folder : FileKind::other, std::nullopt);
}

// A name ending in "*" stands for the file of that name grown since.
QList<FileItem> filesNamed(const QStringList& names) {
    QList<FileItem> items;
    for (const QString& name : names) {
        if (name.endsWith(u'*'))
            items.append(fileAt(name.chopped(1), false, 20));
        else
            items.append(fileAt(name, name.endsWith(u'/')));
    }
    return items;
}

QStringList namesOf(const QList<FileItem>& items) {
    QStringList names;
    for (const FileItem& item : items)
        names.append(item.name());
    return names;
}

} // namespace

class tst_FileItemListModel : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void reselectByPath_data();
    void reselectByPath();
    void reselectKeepsRunsWhole_data();
    void reselectKeepsRunsWhole();
    void selectedItemsAreTheSelectedRows_data();
    void selectedItemsAreTheSelectedRows();
    void cutDimming();
    void listingAgainKeepsUnchangedRows_data();
    void listingAgainKeepsUnchangedRows();

private:
    std::unique_ptr<FileItemListModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void tst_FileItemListModel::init() {
    m_model = std::make_unique<FileItemListModel>();
    m_tester = std::make_unique<QAbstractItemModelTester>(
        m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void tst_FileItemListModel::cleanup() {
    m_tester.reset();
    m_model.reset();
}

void tst_FileItemListModel::reselectByPath_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("rows move") << QStringList{"a", "b", "c"} << QStringList{"b", "c"}
                               << QStringList{"0", "a", "b", "c"} << QStringList{"b", "c"};
    QTest::newRow("a selected item vanished")
        << QStringList{"a", "b", "c"} << QStringList{"a", "c"} << QStringList{"a", "b"} << QStringList{"a"};
    QTest::newRow("everything vanished")
        << QStringList{"a"} << QStringList{"a"} << QStringList{} << QStringList{};
    QTest::newRow("row order, not selection order") << QStringList{"a", "b", "c"} << QStringList{"c", "a"}
                                                    << QStringList{"c", "b", "a"} << QStringList{"c", "a"};
}

void tst_FileItemListModel::reselectByPath() {
    QFETCH(QStringList, before);
    QFETCH(QStringList, selected);
    QFETCH(QStringList, after);
    QFETCH(QStringList, expected);
    m_model->setItems(filesNamed(before));
    QItemSelectionModel selection(m_model.get());
    for (const QString& name : selected)
        selection.select(m_model->index(int(before.indexOf(name))), QItemSelectionModel::Select);
    QList<URL> paths;
    for (const FileItem& item : m_model->selectedItems(&selection))
        paths.append(item.path());

    m_model->setItems(filesNamed(after));
    QSignalSpy changes(&selection, &QItemSelectionModel::selectionChanged);
    m_model->reselect(&selection, paths);
    QCOMPARE(changes.count(), 0);
    QCOMPARE(namesOf(m_model->selectedItems(&selection)), expected);
}

void tst_FileItemListModel::reselectKeepsRunsWhole_data() {
    QTest::addColumn<int>("step");   // every step-th row of 10,000 is selected
    QTest::addColumn<int>("ranges"); // what the selection model holds afterwards
    QTest::newRow("Select All") << 1 << 1;
    QTest::newRow("every other row") << 2 << 5000;
}

// A Select All of a camera roll re-selected after a reload is one range, not one a row: the view
// asks the selection model about every range for every row it draws.
void tst_FileItemListModel::reselectKeepsRunsWhole() {
    QFETCH(int, step);
    QFETCH(int, ranges);
    constexpr int count = 10000;
    QStringList names;
    for (int row = 0; row < count; ++row)
        names.append(QStringLiteral("IMG_%1.JPG").arg(row, 5, 10, QLatin1Char('0')));
    m_tester.reset();
    m_model->setItems(filesNamed(names));
    QList<URL> paths;
    for (int row = count - 1; row >= 0; row -= step)
        paths.append(m_model->items().at(row).path());
    QItemSelectionModel selection(m_model.get());

    const QList<int> rows = m_model->reselect(&selection, paths);
    QCOMPARE(rows.size(), paths.size());
    QCOMPARE(selection.selection().size(), ranges);
    QCOMPARE(m_model->selectedItems(&selection).size(), paths.size());

    // The folder left: the whole selection goes in one step.
    QSignalSpy changes(&selection, &QItemSelectionModel::selectionChanged);
    selection.clearSelection();
    QCOMPARE(changes.count(), 1);
    QVERIFY(m_model->selectedItems(&selection).isEmpty());

    // Re-selected, then nothing to find (a sort or a filter after the selection went): the rows
    // go without a change reported, as they came back without one.
    m_model->reselect(&selection, paths);
    QCOMPARE(m_model->selectedItems(&selection).size(), paths.size());
    m_model->reselect(&selection, QList<URL>{});
    QVERIFY(selection.selection().isEmpty());
    QCOMPARE(changes.count(), 1);
}

void tst_FileItemListModel::selectedItemsAreTheSelectedRows_data() {
    // Steps on rows 0-9: "s" selects, "d" deselects, "t" toggles a run of rows; "c" replaces the
    // part of the selection still being made (a drag's rectangle), "cd" as one that deselects;
    // "x" clears everything.
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("one run") << QStringList{"s2-5"};
    QTest::newRow("runs given out of order") << QStringList{"s7-8", "s1-2", "s4"};
    QTest::newRow("runs that overlap") << QStringList{"s1-4", "s3-7", "s2-6"};
    QTest::newRow("a hole deselected in a run") << QStringList{"s0-9", "d3-4", "d7"};
    QTest::newRow("toggled across a run's edge") << QStringList{"s2-5", "t4-8"};
    QTest::newRow("a drag still under way") << QStringList{"s0-1", "c5-6", "c6-8"};
    QTest::newRow("a drag that deselects") << QStringList{"s0-9", "t0", "cd2-4"};
    QTest::newRow("cleared, then one row") << QStringList{"s0-9", "x", "s9"};
}

// The selected items are exactly the rows the selection model calls selected, each once and in
// row order, however its ranges were built.
void tst_FileItemListModel::selectedItemsAreTheSelectedRows() {
    QFETCH(QStringList, steps);
    QStringList names;
    for (int row = 0; row < 10; ++row)
        names.append(QString::number(row));
    m_model->setItems(filesNamed(names));
    QItemSelectionModel selection(m_model.get());
    for (QString step : steps) {
        if (step == u"x") {
            selection.clearSelection();
            continue;
        }
        QItemSelectionModel::SelectionFlags flags;
        const QChar kind = step.front();
        step.remove(0, 1);
        if (kind == u'c') {
            flags = QItemSelectionModel::Current;
            if (step.startsWith(u'd')) {
                flags |= QItemSelectionModel::Deselect;
                step.remove(0, 1);
            } else {
                flags |= QItemSelectionModel::Select;
            }
        } else {
            flags = kind == u's'   ? QItemSelectionModel::Select
                    : kind == u'd' ? QItemSelectionModel::Deselect
                                   : QItemSelectionModel::Toggle;
        }
        const int top = step.section(u'-', 0, 0).toInt();
        const int bottom = step.contains(u'-') ? step.section(u'-', 1, 1).toInt() : top;
        selection.select(QItemSelection(m_model->index(top), m_model->index(bottom)), flags);
    }
    QStringList expected;
    for (int row = 0; row < 10; ++row) {
        if (selection.isSelected(m_model->index(row)))
            expected.append(names.at(row));
    }
    QVERIFY(!expected.isEmpty());
    QCOMPARE(namesOf(m_model->selectedItems(&selection)), expected);
}

void tst_FileItemListModel::cutDimming() {
    const QList<FileItem> items = filesNamed({"a", "b", "c"});
    m_model->setItems(items);
    QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
    m_model->setCutURLs({items[1].path()});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).toModelIndex().row(), 1);
    QCOMPARE(m_model->index(1).data(FileItemListModel::AlphaRole).toDouble(), 0.4);
    QCOMPARE(m_model->index(0).data(FileItemListModel::AlphaRole).toDouble(), 1.0);

    // Moving the cut from b to c redraws those two rows only.
    changed.clear();
    m_model->setCutURLs({items[2].path()});
    QCOMPARE(changed.count(), 2);
    QCOMPARE(m_model->index(1).data(FileItemListModel::AlphaRole).toDouble(), 1.0);
    QCOMPARE(m_model->index(2).data(FileItemListModel::AlphaRole).toDouble(), 0.4);
}

void tst_FileItemListModel::listingAgainKeepsUnchangedRows_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QString>("current"); // the view's current row, and the rows selected with it
    QTest::addColumn<bool>("reset");
    QTest::newRow("files added at the end")
        << QStringList{"a", "b", "c"} << QStringList{"a", "b", "c", "d", "e"} << "b" << false;
    QTest::newRow("a file added at the start")
        << QStringList{"b", "c"} << QStringList{"a", "b", "c"} << "c" << false;
    QTest::newRow("a file gone from the middle")
        << QStringList{"a", "b", "c", "d"} << QStringList{"a", "c", "d"} << "d" << false;
    QTest::newRow("a file grown") << QStringList{"a", "b", "c"} << QStringList{"a", "b*", "c"} << "a"
                                  << false;
    QTest::newRow("the same files") << QStringList{"a", "b"} << QStringList{"a", "b"} << "b" << false;
    QTest::newRow("another folder") << QStringList{"x", "y"} << QStringList{"a", "b"} << "x" << true;
    QTest::newRow("little in common")
        << QStringList{"a", "b", "c", "d", "e"} << QStringList{"a", "v", "w", "x", "y"} << "a" << true;
    QTest::newRow("from nothing") << QStringList{} << QStringList{"a"} << "" << true;
}

// A folder listed again while a copy fills it shows the new rows without building the others
// again: the rows it had stay, with the view's current row and the selection on them.
void tst_FileItemListModel::listingAgainKeepsUnchangedRows() {
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QString, current);
    QFETCH(bool, reset);
    m_model->setItems(filesNamed(before));
    QItemSelectionModel selection(m_model.get());
    if (!current.isEmpty())
        selection.setCurrentIndex(m_model->index(int(before.indexOf(current))), QItemSelectionModel::Select);
    QSignalSpy resets(m_model.get(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(m_model.get(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removals(m_model.get(), &QAbstractItemModel::rowsRemoved);

    const QList<FileItem> listed = filesNamed(after);
    m_model->setItems(listed);
    QVERIFY(m_model->items().isSharedWith(listed));
    QCOMPARE(namesOf(m_model->items()), namesOf(listed));
    QCOMPARE(m_model->items().at(after.size() - 1).size(), listed.last().size());
    QCOMPARE(resets.count(), reset ? 1 : 0);
    if (reset)
        return;
    if (before == after)
        QCOMPARE(inserts.count() + removals.count(), 0);
    QCOMPARE(namesOf(m_model->selectedItems(&selection)), QStringList{current});
    QCOMPARE(selection.currentIndex().row(), int(after.indexOf(current)));
}

QTEST_MAIN(tst_FileItemListModel)
#include "tst_FileItemListModel.moc"
