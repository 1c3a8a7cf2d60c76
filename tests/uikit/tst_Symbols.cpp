#include "uikit/Symbols.h"

#include <QApplication>
#include <QImage>
#include <QTest>

// Offscreen runs have no icon theme, so every icon here comes from our own drawings: each known
// symbol must resolve to one that renders, or a window shows an empty space.
class tst_Symbols : public QObject {
    Q_OBJECT

private slots:
    void everyKnownSymbolRenders_data() {
        QTest::addColumn<QString>("symbol");
        for (const char* symbol :
             {"iphone", "iphone.gen3", "star.fill", "folder", "folder.fill", "square.grid.2x2", "app",
              "photo.on.rectangle", "video.fill", "doc", "doc.on.doc", "chevron.left", "chevron.right",
              "list.bullet", "rectangle.split.3x1", "square.and.arrow.down", "sidebar.right", "tray.full",
              "cable.connector", "lock.fill", "lock.app.fill", "xmark.app", "exclamationmark.triangle"})
            QTest::newRow(symbol) << QString::fromLatin1(symbol);
    }
    void everyKnownSymbolRenders() {
        QFETCH(QString, symbol);
        QVERIFY(!Symbols::themeNames(symbol).isEmpty());
        const QImage image = Symbols::icon(symbol).pixmap(32, 32).toImage();
        QVERIFY2(!image.isNull(), "no drawing");
        bool drawn = false;
        for (int y = 0; y < image.height() && !drawn; ++y)
            for (int x = 0; x < image.width() && !drawn; ++x)
                drawn = qAlpha(image.pixel(x, y)) > 0;
        QVERIFY2(drawn, "the drawing is empty");
    }

    void unknownSymbolsAndFileTypes() {
        QVERIFY(Symbols::icon(QStringLiteral("no.such.symbol")).isNull());
        QVERIFY(Symbols::themeNames(QStringLiteral("no.such.symbol")).isEmpty());
        // Without a theme, a file type falls back to our document or folder.
        QVERIFY(!Symbols::fileTypeIcon(QStringLiteral("image/jpeg"), false).isNull());
        QVERIFY(!Symbols::fileTypeIcon(QString(), true).isNull());
        QVERIFY(!Symbols::fileTypeIcon(QStringLiteral("no/such-type"), false).isNull());
    }
};

QTEST_MAIN(tst_Symbols)
#include "tst_Symbols.moc"
