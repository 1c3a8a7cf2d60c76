// The list view's own part: its columns and their widths, sorting by header clicks (stable,
// numbers by value, folders among files, Kind inert, not kept for the next listing, kept by the
// search), and the cells of folders, files and cut rows.

#include "DeviceTestCase.h"
#include "FlatBrowserTestBed.h"
#include "TestFiles.h"
#include "WidgetDeviceTestMain.h"
#include "browser/CutDimmingDelegate.h"
#include "browser/FileItemListModel.h"
#include "platform/DateFormat.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>

class tst_ListBrowserViewController : public DeviceTestCase {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void columns();
    void nameGivesWayInANarrowView();
    void selectedCutRowsStayLegible_data();
    void selectedCutRowsStayLegible();
    void sortClicks_data();
    void sortClicks();
    void newListingIsNotSorted();
    void searchKeepsTheSort();
    void cells_data();
    void cells();
    void cutRowsAreDimmedUntilTheClipboardChanges();

private:
    URL folderURL(const QString& relative = QString()) const;
    ListBrowserViewController& list() { return static_cast<ListBrowserViewController&>(*m_bed->browser); }
    void clickHeader(int column);
    QString cell(const QString& name, int column, int role = Qt::DisplayRole) const;

    QString m_root;
    std::unique_ptr<FlatBrowserTestBed> m_bed;
};

void tst_ListBrowserViewController::init() {
    setUpTest();
    m_root = scratchPath(QStringLiteral("tree"));
    // name, size, age in days: equal sizes, numbers in names and a folder among the files.
    const struct {
        const char* name;
        int size;
        int age;
    } files[] = {{"a.txt", 5, 1}, {"b.txt", 30, 3}, {"file2.txt", 30, 2}, {"file10.txt", 10, 4}};
    const QDateTime now = QDateTime::currentDateTime();
    for (const auto& file : files) {
        const QString path = m_root + u'/' + QLatin1String(file.name);
        QVERIFY(writeTestFile(path, QByteArray(file.size, 'x')));
        QFile handle(path);
        QVERIFY(handle.open(QIODevice::ReadWrite));
        QVERIFY(handle.setFileTime(now.addDays(-file.age), QFileDevice::FileModificationTime));
    }
    QVERIFY(QDir().mkpath(m_root + QStringLiteral("/Folder")));
    QVERIFY(writeTestFile(m_root + QStringLiteral("/Other/z.txt"), "zz"));
    QVERIFY(writeTestFile(m_root + QStringLiteral("/Other/y.txt"), "y"));
    m_bed = std::make_unique<FlatBrowserTestBed>();
    m_bed->make(FlatBrowserTestBed::Kind::list);
    m_bed->open(folderURL());
}

void tst_ListBrowserViewController::cleanup() {
    m_bed.reset();
    tearDownTest();
}

URL tst_ListBrowserViewController::folderURL(const QString& relative) const {
    return URL::fileURL(relative.isEmpty() ? m_root : m_root + u'/' + relative, true);
}

void tst_ListBrowserViewController::clickHeader(int column) {
    QHeaderView* header = list().tableView()->horizontalHeader();
    const QPoint point(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                       header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, point);
}

QString tst_ListBrowserViewController::cell(const QString& name, int column, int role) const {
    const QAbstractItemModel* model = m_bed->browser->itemView()->model();
    return model->index(m_bed->rowOf(name), column).data(role).toString();
}

void tst_ListBrowserViewController::columns() {
    QTableView* table = list().tableView();
    const QAbstractItemModel* model = table->model();
    QStringList titles;
    QList<int> widths;
    for (int column = 0; column < model->columnCount(); ++column) {
        titles.append(model->headerData(column, Qt::Horizontal).toString());
        widths.append(table->horizontalHeader()->sectionSize(column));
    }
    QCOMPARE(titles, (QStringList{"Name", "Date Modified", "Size", "Kind"}));
    QCOMPARE(widths, (QList<int>{300, ListBrowserViewController::dateColumnWidth(), 90, 100}));
    // Every month's date fits whole, time included.
    QVERIFY(ListBrowserViewController::dateColumnWidth() >= 160);
    const QFontMetrics metrics(table->font());
    for (int month = 1; month <= 12; ++month) {
        const QString text =
            DateFormat::mediumShort(Date::fromQDateTime(QDateTime(QDate(2024, month, 30), QTime(10, 59))));
        QVERIFY2(metrics.horizontalAdvance(text) + ListBrowserViewController::dateCellPadding <=
                     ListBrowserViewController::dateColumnWidth(),
                 qPrintable(text));
    }
    QCOMPARE(table->verticalHeader()->defaultSectionSize(), ListBrowserViewController::rowHeight);
    // Before any click the rows come as listed and no header shows an indicator.
    QCOMPARE(table->horizontalHeader()->sortIndicatorSection(), -1);
    QVERIFY(!list().sortDescriptor());
    // The Name column cannot be made narrower than its minimum; the others can.
    table->horizontalHeader()->resizeSection(0, 60);
    QCOMPARE(table->horizontalHeader()->sectionSize(0), ListBrowserViewController::nameMinimumWidth);
    table->horizontalHeader()->resizeSection(2, 60);
    QCOMPARE(table->horizontalHeader()->sectionSize(2), 60);
}

void tst_ListBrowserViewController::nameGivesWayInANarrowView() {
    QTableView* table = list().tableView();
    QHeaderView* header = table->horizontalHeader();
    const auto total = [header] {
        return header->length();
    };
    // The list's width at the window's first size, beside the sidebar and the preview.
    list().resize(620, 400);
    QTRY_VERIFY(total() <= table->viewport()->width());
    QVERIFY(header->sectionSize(0) < 300);
    QVERIFY(!table->horizontalScrollBar()->isVisible());
    // Narrower still: Name stops at its minimum and the list scrolls.
    list().resize(300, 400);
    QTRY_COMPARE(header->sectionSize(0), ListBrowserViewController::nameMinimumWidth);
    // Wide again: back to its width.
    list().resize(900, 400);
    QTRY_COMPARE(header->sectionSize(0), 300);
    // A width the user gives Name stands.
    header->resizeSection(0, 700);
    QCOMPARE(header->sectionSize(0), 700);
}

void tst_ListBrowserViewController::selectedCutRowsStayLegible_data() {
    QTest::addColumn<double>("alpha");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<double>("opacity");
    QTest::newRow("cut") << 0.4 << false << 0.4;
    QTest::newRow("cut and selected") << 0.4 << true << CutDimmingDelegate::selectedMinimumOpacity;
    QTest::newRow("selected") << 1.0 << true << 1.0;
}

void tst_ListBrowserViewController::selectedCutRowsStayLegible() {
    QFETCH(double, alpha);
    QFETCH(bool, selected);
    QFETCH(double, opacity);
    QCOMPARE(CutDimmingDelegate::contentOpacity(alpha, selected), opacity);
}

void tst_ListBrowserViewController::sortClicks_data() {
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<int>("indicator");
    QTest::addColumn<int>("indicatorOrder");
    const int none = -1;
    const int up = Qt::AscendingOrder;
    const int down = Qt::DescendingOrder;
    QTest::newRow("no click: the listing's order")
        << QList<int>{} << QStringList{"Folder", "Other", "a.txt", "b.txt", "file2.txt", "file10.txt"} << none
        << up;
    QTest::newRow("name: A to Z, numbers by value, folders among files")
        << QList<int>{0} << QStringList{"a.txt", "b.txt", "file2.txt", "file10.txt", "Folder", "Other"} << 0
        << up;
    QTest::newRow("name twice: Z to A")
        << QList<int>{0, 0} << QStringList{"Other", "Folder", "file10.txt", "file2.txt", "b.txt", "a.txt"}
        << 0 << down;
    QTest::newRow("size: largest first, equal sizes keep their order")
        << QList<int>{2} << QStringList{"b.txt", "file2.txt", "file10.txt", "a.txt", "Folder", "Other"} << 2
        << down;
    QTest::newRow("kind does not sort")
        << QList<int>{3} << QStringList{"Folder", "Other", "a.txt", "b.txt", "file2.txt", "file10.txt"}
        << none << up;
    QTest::newRow("kind after size keeps the size sort")
        << QList<int>{2, 3} << QStringList{"b.txt", "file2.txt", "file10.txt", "a.txt", "Folder", "Other"}
        << 2 << down;
    QTest::newRow("size, then name: a fresh name sort")
        << QList<int>{2, 0} << QStringList{"a.txt", "b.txt", "file2.txt", "file10.txt", "Folder", "Other"}
        << 0 << up;
}

void tst_ListBrowserViewController::sortClicks() {
    QFETCH(QList<int>, clicks);
    QFETCH(QStringList, order);
    QFETCH(int, indicator);
    QFETCH(int, indicatorOrder);
    for (int column : clicks)
        clickHeader(column);
    QCOMPARE(m_bed->shownNames(), order);
    QHeaderView* header = list().tableView()->horizontalHeader();
    QCOMPARE(header->sortIndicatorSection(), indicator);
    if (indicator >= 0)
        QCOMPARE(int(header->sortIndicatorOrder()), indicatorOrder);
}

void tst_ListBrowserViewController::newListingIsNotSorted() {
    clickHeader(2);
    QCOMPARE(m_bed->shownNames().first(), QStringLiteral("b.txt"));
    m_bed->open(folderURL(QStringLiteral("Other")));
    // Listed in the provider's order, although Size still shows its indicator.
    QCOMPARE(m_bed->shownNames(), (QStringList{"y.txt", "z.txt"}));
    QCOMPARE(list().tableView()->horizontalHeader()->sortIndicatorSection(), 2);
    // The next click sorts again: the same header reverses.
    clickHeader(2);
    QCOMPARE(m_bed->shownNames(), (QStringList{"y.txt", "z.txt"}));
    clickHeader(2);
    QCOMPARE(m_bed->shownNames(), (QStringList{"z.txt", "y.txt"}));
}

void tst_ListBrowserViewController::searchKeepsTheSort() {
    clickHeader(1);
    const QStringList newestFirst{"Folder", "Other", "a.txt", "file2.txt", "b.txt", "file10.txt"};
    // The folders were made last: they are the newest.
    QCOMPARE(m_bed->shownNames().mid(2), newestFirst.mid(2));
    m_bed->navigation->searchQuery = QStringLiteral("txt");
    QTRY_COMPARE(m_bed->shownNames(), newestFirst.mid(2));
    m_bed->navigation->searchQuery = QString();
    QTRY_COMPARE(m_bed->shownNames().size(), 6);
    QCOMPARE(m_bed->shownNames().mid(2), newestFirst.mid(2));
}

void tst_ListBrowserViewController::cells_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder") << "Folder"
                            << "--"
                            << "Folder";
    QTest::newRow("file") << "b.txt"
                          << "30 bytes"
                          << "Document";
}

void tst_ListBrowserViewController::cells() {
    QFETCH(QString, name);
    QFETCH(QString, size);
    QFETCH(QString, kind);
    QCOMPARE(cell(name, ListBrowserViewController::nameColumn), name);
    QCOMPARE(cell(name, ListBrowserViewController::sizeColumn), size);
    QCOMPARE(cell(name, ListBrowserViewController::kindColumn), kind);
    QVERIFY(!cell(name, ListBrowserViewController::dateColumn).isEmpty());
    const QAbstractItemModel* model = m_bed->browser->itemView()->model();
    const QVariant alignment =
        model->index(m_bed->rowOf(name), ListBrowserViewController::sizeColumn).data(Qt::TextAlignmentRole);
    QVERIFY(alignment.value<Qt::Alignment>() & Qt::AlignRight);
}

void tst_ListBrowserViewController::cutRowsAreDimmedUntilTheClipboardChanges() {
    const auto alphas = [this](const QString& name) {
        QList<double> values;
        for (int column = 0; column < ListBrowserViewController::columnCount; ++column)
            values.append(cell(name, column, FileItemListModel::AlphaRole).toDouble());
        return values;
    };
    const QList<double> dimmed(ListBrowserViewController::columnCount, FileItemListModel::cutAlpha);
    const QList<double> plain(ListBrowserViewController::columnCount, 1.0);
    QTableView* table = list().tableView();
    table->selectRow(m_bed->rowOf(QStringLiteral("b.txt")));
    list().cutSelection();
    QTRY_COMPARE(alphas(QStringLiteral("b.txt")), dimmed);
    QCOMPARE(alphas(QStringLiteral("a.txt")), plain);
    // A new listing keeps the clipboard's state.
    m_bed->browser->reloadCurrentFolder();
    m_bed->settle();
    QCOMPARE(alphas(QStringLiteral("b.txt")), dimmed);
    m_bed->clipboard->mode = ClipboardManager::Mode::copy;
    QTRY_COMPARE(alphas(QStringLiteral("b.txt")), plain);
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_ListBrowserViewController)
#include "tst_ListBrowserViewController.moc"
