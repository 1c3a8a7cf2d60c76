// The status bar's text for a folder's count and a selection.

#include "app/StatusBarView.h"

#include <QApplication>
#include <QTest>

#include <limits>

class tst_StatusBarView : public QObject {
    Q_OBJECT

private slots:
    void text_data() {
        QTest::addColumn<int>("itemCount");
        QTest::addColumn<QList<quint64>>("selectedSizes");
        QTest::addColumn<QString>("expected");
        using Sizes = QList<quint64>;
        const quint64 huge = std::numeric_limits<quint64>::max() / 2 + 1;
        QTest::newRow("empty folder") << 0 << Sizes{} << "0 items";
        QTest::newRow("one item") << 1 << Sizes{} << "1 item";
        QTest::newRow("selection with a size")
            << 14 << Sizes{1'400'000, 2'000'000} << "2 of 14 selected, 3.4 MB";
        QTest::newRow("one selected, no plural") << 1 << Sizes{1} << "1 of 1 selected, 1 byte";
        QTest::newRow("folders of size zero") << 5 << Sizes{0, 0} << "2 of 5 selected";
        // The two lists are published apart: a selection can outlive the folder's listing.
        QTest::newRow("selection beyond the contents") << 0 << Sizes{1000} << "1 of 0 selected, 1 KB";
        QTest::newRow("sizes past the largest count stay there")
            << 3 << Sizes{huge, huge, huge} << "3 of 3 selected, 18.45 EB";
    }

    void text() {
        QFETCH(int, itemCount);
        QFETCH(QList<quint64>, selectedSizes);
        QSet<FileItem> selection;
        for (int i = 0; i < selectedSizes.size(); ++i) {
            const URL url = URL::fromComponents("afc", "U", QStringLiteral("/item%1").arg(i));
            selection.insert(FileItem(url.absoluteString(), url.lastPathComponent(), url,
                                      selectedSizes[i] == 0, selectedSizes[i], Date(0), FileKind::other,
                                      std::nullopt));
        }
        QTEST(StatusBarView::text(itemCount, selection), "expected");
    }
};

QTEST_MAIN(tst_StatusBarView)
#include "tst_StatusBarView.moc"
