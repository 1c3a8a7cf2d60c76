// The icon view's own part: where the first cells lie, what a cell shows for folders and files,
// cut items dimmed through clipboard changes, and long names on at most two lines.

#include "DeviceTestCase.h"
#include "FlatBrowserTestBed.h"
#include "TestFiles.h"
#include "WidgetDeviceTestMain.h"
#include "browser/FileItemListModel.h"
#include "uikit/Fonts.h"

#include <QDir>
#include <QFontMetrics>
#include <QListView>

class tst_IconBrowserViewController : public DeviceTestCase {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void geometryOfTheFirstCells();
    void cellTexts_data();
    void cellTexts();
    void cutItemsAreDimmedUntilTheClipboardChanges();
    void nameLayout_data();
    void nameLayout();

private:
    IconBrowserViewController& icons() { return static_cast<IconBrowserViewController&>(*m_bed->browser); }
    QVariant role(const QString& name, int role) const;

    QString m_root;
    std::unique_ptr<FlatBrowserTestBed> m_bed;
};

void tst_IconBrowserViewController::init() {
    setUpTest();
    m_root = scratchPath(QStringLiteral("tree"));
    QVERIFY(QDir().mkpath(m_root + QStringLiteral("/Folder")));
    QVERIFY(writeTestFile(m_root + QStringLiteral("/big.bin"), QByteArray(1500, 'x')));
    QVERIFY(writeTestFile(m_root + QStringLiteral("/one.txt"), "1"));
    QVERIFY(writeTestFile(m_root + QStringLiteral("/two.txt"), "22"));
    m_bed = std::make_unique<FlatBrowserTestBed>();
    m_bed->make(FlatBrowserTestBed::Kind::icon);
    m_bed->open(URL::fileURL(m_root, true));
}

void tst_IconBrowserViewController::cleanup() {
    m_bed.reset();
    tearDownTest();
}

QVariant tst_IconBrowserViewController::role(const QString& name, int role) const {
    const QAbstractItemModel* model = m_bed->browser->itemView()->model();
    return model->index(m_bed->rowOf(name), 0).data(role);
}

void tst_IconBrowserViewController::geometryOfTheFirstCells() {
    QListView* view = icons().collectionView();
    QCOMPARE(view->viewMode(), QListView::IconMode);
    // Static, or Qt would let icons be dragged about and take the drops for that.
    QCOMPARE(view->movement(), QListView::Static);
    const QRect first = view->visualRect(view->model()->index(0, 0));
    const QRect second = view->visualRect(view->model()->index(1, 0));
    QCOMPARE(first.size(), IconBrowserViewController::cellSize);
    QCOMPARE(second.size(), IconBrowserViewController::cellSize);
    QCOMPARE(first.topLeft(), QPoint(10, 10));
    // The next cell on the same line, ten pixels further.
    QCOMPARE(second.topLeft(), QPoint(first.right() + 1 + IconBrowserViewController::spacing, first.top()));
}

void tst_IconBrowserViewController::cellTexts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("symbol");
    QTest::newRow("a folder shows no size") << "Folder"
                                            << ""
                                            << "folder";
    QTest::newRow("one byte") << "one.txt"
                              << "1 byte"
                              << "text-plain";
    QTest::newRow("kilobytes rounded") << "big.bin"
                                       << "2 KB"
                                       << "application-octet-stream";
}

void tst_IconBrowserViewController::cellTexts() {
    QFETCH(QString, name);
    QFETCH(QString, size);
    QFETCH(QString, symbol);
    QCOMPARE(role(name, Qt::DisplayRole).toString(), name);
    QCOMPARE(role(name, FileItemListModel::SizeTextRole).toString(), size);
    QCOMPARE(role(name, FileItemListModel::SymbolNameRole).toString(), symbol);
}

void tst_IconBrowserViewController::cutItemsAreDimmedUntilTheClipboardChanges() {
    QListView* view = icons().collectionView();
    view->selectionModel()->select(view->model()->index(m_bed->rowOf(QStringLiteral("two.txt")), 0),
                                   QItemSelectionModel::Select);
    QTest::keyClick(view, Qt::Key_X, Qt::ControlModifier);
    QTRY_COMPARE(role(QStringLiteral("two.txt"), FileItemListModel::AlphaRole).toDouble(),
                 FileItemListModel::cutAlpha);
    QCOMPARE(role(QStringLiteral("one.txt"), FileItemListModel::AlphaRole).toDouble(), 1.0);
    // Copying something else leaves nothing cut.
    view->clearSelection();
    view->selectionModel()->select(view->model()->index(m_bed->rowOf(QStringLiteral("one.txt")), 0),
                                   QItemSelectionModel::Select);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QTRY_COMPARE(role(QStringLiteral("two.txt"), FileItemListModel::AlphaRole).toDouble(), 1.0);
    QCOMPARE(role(QStringLiteral("one.txt"), FileItemListModel::AlphaRole).toDouble(), 1.0);
}

void tst_IconBrowserViewController::nameLayout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("elided");
    QTest::newRow("a short name") << "IMG_0001.JPG" << 1 << false;
    QTest::newRow("two words that need two lines") << "Holiday pictures from the lake.jpg" << 2 << false;
    QTest::newRow("a long name keeps its end")
        << "A very long file name that would never fit on two lines of a cell.mov" << 2 << true;
    QTest::newRow("one long word") << "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA.txt" << 2
                                   << true;
}

void tst_IconBrowserViewController::nameLayout() {
    QFETCH(QString, name);
    QFETCH(int, lines);
    QFETCH(bool, elided);
    const QFont font = Fonts::system(11);
    const int width = IconBrowserViewController::nameFrame.width();
    const QStringList laidOut = IconBrowserViewController::nameLayout(name, font, width);
    QCOMPARE(laidOut.size(), lines);
    const QFontMetrics metrics(font);
    for (const QString& line : laidOut)
        QVERIFY2(metrics.horizontalAdvance(line) <= width, qPrintable(line));
    const QString joined = laidOut.join(QString());
    QCOMPARE(joined.contains(QChar(0x2026)), elided);
    // Shortened in the middle: the start and the extension stay.
    QVERIFY(joined.startsWith(name.left(3)));
    QVERIFY(joined.endsWith(name.right(3)));
    if (!elided)
        QCOMPARE(laidOut.join(u' ').simplified(), name.simplified());
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_IconBrowserViewController)
#include "tst_IconBrowserViewController.moc"
