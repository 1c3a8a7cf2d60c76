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

    // A folder's own size on the disk or the device (a directory entry's 4096 bytes) is not the
    // size of what it holds: the sum is of the files only, as the preview shows no size for one.
    void foldersAddNoSize() {
        const auto item = [](const QString& name, bool folder, quint64 size) {
            const URL url = URL::fromComponents("afc", "U", QStringLiteral("/") + name);
            return FileItem(url.absoluteString(), name, url, folder, size, Date(0),
                            folder ? FileKind::folder : FileKind::other, std::nullopt);
        };
        QCOMPARE(StatusBarView::text(5, {item(QStringLiteral("DCIM"), true, 4096)}),
                 QStringLiteral("1 of 5 selected"));
        QCOMPARE(StatusBarView::text(5, {item(QStringLiteral("DCIM"), true, 4096),
                                         item(QStringLiteral("a.txt"), false, 1500)}),
                 QStringLiteral("2 of 5 selected, 2 KB"));
    }
};

QTEST_MAIN(tst_StatusBarView)
#include "tst_StatusBarView.moc"
