#include "browser/ErrorPlaceholderView.h"
#include "device/AFCError.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

class tst_ErrorPlaceholderView : public QObject {
    Q_OBJECT

private slots:
    void wrappedLinesAreNeverCut_data();
    void wrappedLinesAreNeverCut();
};

void tst_ErrorPlaceholderView::wrappedLinesAreNeverCut_data() {
    QTest::addColumn<int>("width");
    QTest::newRow("a column's default width") << 220;
    QTest::newRow("a narrow column") << 150;
    QTest::newRow("a wide view") << 600;
}

// In a column, the long message of an app that shares no files wraps onto several lines: each
// label must be as tall as its lines at the width it got, or the last ones are cut off.
void tst_ErrorPlaceholderView::wrappedLinesAreNeverCut() {
    QFETCH(int, width);
    const auto error = std::make_exception_ptr(
        AFCError(AFCError::Case::appNotFileAccessible, QStringLiteral("com.example.reader")));
    std::unique_ptr<ErrorPlaceholderView> view(ErrorPlaceholderView::forError(error));
    view->resize(width, 560);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    QApplication::processEvents();
    for (QLabel* label : view->findChildren<QLabel*>()) {
        if (!label->wordWrap())
            continue;
        QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(label->text()));
    }
}

QTEST_MAIN(tst_ErrorPlaceholderView)
#include "tst_ErrorPlaceholderView.moc"
