// The application's icon: drawn at every size the desktop asks for, shown by About, and installed
// with a desktop entry that names it and the installed program.

#include "TestFiles.h"
#include "app/AboutWindowController.h"
#include "app/ApplicationIcon.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The number of pixels that are not fully transparent.
int drawnPixels(const QImage& image) {
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            drawn += qAlpha(image.pixel(x, y)) > 0;
    }
    return drawn;
}

} // namespace

class tst_ApplicationIcon : public QObject {
    Q_OBJECT

private slots:
    void drawnAtEverySize_data();
    void drawnAtEverySize();
    void aboutShowsIt();
    void installedWithTheDesktopEntry();
};

void tst_ApplicationIcon::drawnAtEverySize_data() {
    QTest::addColumn<int>("side");
    for (int side : {16, 32, 48, 96, 256})
        QTest::addRow("%d px", side) << side;
}

// A drawing the SVG engine can read: a missing engine or a broken file would leave window frames
// and About blank.
void tst_ApplicationIcon::drawnAtEverySize() {
    QFETCH(int, side);
    const QImage image = ApplicationIcon::icon().pixmap(side, side).toImage();
    QCOMPARE(image.size(), QSize(side, side));
    QVERIFY(drawnPixels(image) > side * side / 2);
}

void tst_ApplicationIcon::aboutShowsIt() {
    AboutWindowController about(AboutWindowController::BundleInfo{QStringLiteral("1.0"), QStringLiteral("7")});
    auto* icon = about.window()->findChild<QLabel*>(QStringLiteral("aboutIcon"));
    QVERIFY(icon);
    QCOMPARE(icon->pixmap().toImage(), ApplicationIcon::icon().pixmap(96, 96).toImage());
}

// What `cmake --install` puts in place: the program, its media module where the program looks,
// the icon, and a desktop entry naming both.
void tst_ApplicationIcon::installedWithTheDesktopEntry() {
    QTemporaryDir prefix;
    QProcess install;
    install.start(QStringLiteral(ORVANTA_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(ORVANTA_BUILD_DIR), QStringLiteral("--prefix"),
                   prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAllStandardError().constData());
    const QDir root(prefix.path());
    const QString name = QLatin1String(ApplicationIcon::desktopName);

    const QString entryPath = root.filePath(QStringLiteral("share/applications/%1.desktop").arg(name));
    QVERIFY(QFile::exists(entryPath));
    QSettings entry(entryPath, QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    QCOMPARE(entry.value(QStringLiteral("Type")).toString(), QStringLiteral("Application"));
    QCOMPARE(entry.value(QStringLiteral("Name")).toString(), QStringLiteral("Orvanta"));
    QCOMPARE(entry.value(QStringLiteral("Icon")).toString(), name);
    QVERIFY(!entry.value(QStringLiteral("Categories")).toString().isEmpty());
    const QFileInfo program(root.filePath(QStringLiteral("bin/") + entry.value(QStringLiteral("Exec")).toString()));
    QVERIFY2(program.isFile() && program.isExecutable(), qPrintable(program.filePath()));
    QVERIFY(root.exists(QStringLiteral("lib/orvanta/orvanta_media.so")));

    const QString iconPath = root.filePath(QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(name));
    QCOMPARE(fileContents(iconPath), fileContents(QStringLiteral(":/icons/%1.svg").arg(name)));
}

QTEST_MAIN(tst_ApplicationIcon)
#include "tst_ApplicationIcon.moc"
