#include "uikit/Symbols.h"

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <memory>

namespace {

// The colours of the pixels the drawing covers (nearly) fully.
QList<QRgb> coveredColours(const QImage& drawn) {
    const QImage image = drawn.convertToFormat(QImage::Format_ARGB32);
    QList<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) >= 200)
                colours.append(image.pixel(x, y));
    return colours;
}

bool near(QRgb a, const QColor& b) {
    return qAbs(qRed(a) - b.red()) <= 2 && qAbs(qGreen(a) - b.green()) <= 2 && qAbs(qBlue(a) - b.blue()) <= 2;
}

} // namespace

// Offscreen runs have no icon theme, so every icon here comes from our own drawings: each known
// symbol must resolve to one that renders, or a window shows an empty space.
class tst_Symbols : public QObject {
    Q_OBJECT

private slots:
    void everyKnownSymbolRenders_data() {
        QTest::addColumn<QString>("symbol");
        for (const char* symbol : {"iphone",
                                   "iphone.gen3",
                                   "star.fill",
                                   "folder",
                                   "folder.fill",
                                   "square.grid.2x2",
                                   "app",
                                   "photo.on.rectangle",
                                   "video.fill",
                                   "doc",
                                   "doc.on.doc",
                                   "chevron.left",
                                   "chevron.right",
                                   "list.bullet",
                                   "rectangle.split.3x1",
                                   "square.and.arrow.down",
                                   "sidebar.right",
                                   "tray.full",
                                   "cable.connector",
                                   "lock.fill",
                                   "lock.app.fill",
                                   "xmark.app",
                                   "exclamationmark.triangle"})
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

    // A template symbol is drawn as a control's label: the palette's button text, and its disabled
    // button text when disabled, plainly lighter (or darker, in a dark scheme) whatever the theme's
    // own icon looks like. Unknown symbols give nothing.
    void templateSymbolsFollowThePalette_data() {
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QPalette>("palette");
        const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
        QPalette dark(QColor(0x30, 0x30, 0x30));
        dark.setColor(QPalette::Active, QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
        dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6e, 0x6e, 0x6e));
        QTest::newRow("back, Fusion's palette")
            << QStringLiteral("chevron.left") << fusion->standardPalette();
        QTest::newRow("forward, Fusion's palette")
            << QStringLiteral("chevron.right") << fusion->standardPalette();
        QTest::newRow("back, a dark palette") << QStringLiteral("chevron.left") << dark;
    }

    void templateSymbolsFollowThePalette() {
        QFETCH(QString, symbol);
        QFETCH(QPalette, palette);
        const QPalette before = QGuiApplication::palette();
        QGuiApplication::setPalette(palette);
        const QIcon icon = Symbols::templateIcon(symbol);
        const QColor enabled = palette.color(QPalette::Active, QPalette::ButtonText);
        const QColor disabled = palette.color(QPalette::Disabled, QPalette::ButtonText);
        const QList<QRgb> normal = coveredColours(icon.pixmap(QSize(36, 36), QIcon::Normal).toImage());
        const QList<QRgb> greyed = coveredColours(icon.pixmap(QSize(36, 36), QIcon::Disabled).toImage());
        QGuiApplication::setPalette(before);
        QVERIFY(!normal.isEmpty());
        QVERIFY(!greyed.isEmpty());
        QVERIFY(std::all_of(normal.begin(), normal.end(), [&](QRgb c) { return near(c, enabled); }));
        QVERIFY(std::all_of(greyed.begin(), greyed.end(), [&](QRgb c) { return near(c, disabled); }));
        QVERIFY2(qAbs(qGray(enabled.rgb()) - qGray(disabled.rgb())) >= 100, "not plainly different");
        QVERIFY(Symbols::templateIcon(QStringLiteral("no.such.symbol")).isNull());
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
