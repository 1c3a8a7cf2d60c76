// Get Info panels: the rows for files, folders and container items, several panels at once each
// leaving openPanels() as it closes, and the thumbnail's spinner going whatever the cache answers,
// also after the panel has closed.

#include "TestMedia.h"
#include "browser/GetInfoPanelController.h"
#include "platform/DateFormat.h"
#include "services/ThumbnailCache.h"
#include "uikit/Spinner.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

namespace {

FileItem itemAt(const QString& text, FileKind kind, quint64 size,
                std::optional<UniformType> uti = std::nullopt) {
    const URL url = *URL::fromString(text);
    return FileItem(text, url.lastPathComponent(), url, kind == FileKind::folder, size, Date(800000000.0),
                    kind, std::move(uti));
}

using Rows = QList<QPair<QString, QString>>;

} // namespace

class tst_GetInfoPanelController : public QObject {
    Q_OBJECT

private slots:
    void rows_data();
    void rows();
    void panelsOpenAndCloseOneByOne();
    void newPanelsCascade();
    void thumbnailSpinnerEnds_data();
    void thumbnailSpinnerEnds();
    void valuesWrapOnlyPastTheirColumn_data();
    void valuesWrapOnlyPastTheirColumn();
};

void tst_GetInfoPanelController::rows_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<Rows>("expected");
    const QString date = DateFormat::mediumShort(Date(800000000.0));
    const QString phone = QStringLiteral("afc://00008110-001A2B3C4D5E6F70");
    QTest::newRow("device photo") << phone + "/DCIM/100APPLE/IMG_0001.JPG" << int(FileKind::image) << "jpg"
                                  << Rows{{"Kind:",
                                           UniformType::forFilenameExtension("jpg")->localizedDescription()},
                                          {"Size:", "2.5 MB"},
                                          {"Modified:", date},
                                          {"Path:", "/DCIM/100APPLE/IMG_0001.JPG"}};
    QTest::newRow("folder without a type: no size")
        << phone + "/DCIM/" << int(FileKind::folder) << ""
        << Rows{{"Kind:", "Folder"}, {"Modified:", date}, {"Path:", "/DCIM"}};
    QTest::newRow("inside an app's container: the path there")
        << phone + "/.app/io.halvorn.tavolet/Documents/clip.mov" << int(FileKind::video) << ""
        << Rows{{"Kind:", "Video"},
                {"Size:", "2.5 MB"},
                {"Modified:", date},
                {"Path:", "/Documents/clip.mov"}};
    QTest::newRow("computer file") << "file:///home/u/a%20b.txt" << int(FileKind::document) << ""
                                   << Rows{{"Kind:", "Document"},
                                           {"Size:", "2.5 MB"},
                                           {"Modified:", date},
                                           {"Path:", "/home/u/a b.txt"}};
}

void tst_GetInfoPanelController::rows() {
    QFETCH(QString, url);
    QFETCH(int, kind);
    QFETCH(QString, extension);
    QFETCH(Rows, expected);
    const auto uti = extension.isEmpty() ? std::nullopt : UniformType::forFilenameExtension(extension);
    const FileItem item = itemAt(url, FileKind(FileKind::Value(kind)), 2'500'000, uti);
    QCOMPARE(GetInfoPanelController::infoRows(item), expected);
}

void tst_GetInfoPanelController::panelsOpenAndCloseOneByOne() {
    QWidget mainWindow;
    mainWindow.show();
    const FileItem item =
        itemAt("afc://00008110-001A2B3C4D5E6F70/Downloads/notes.txt", FileKind::document, 10);
    QPointer<GetInfoPanelController> first =
        GetInfoPanelController::open(item, nullptr, nullptr, &mainWindow);
    QPointer<GetInfoPanelController> second =
        GetInfoPanelController::open(item, nullptr, nullptr, &mainWindow);
    QCOMPARE(GetInfoPanelController::openPanels(), (QList<GetInfoPanelController*>{first, second}));
    QVERIFY(first->window()->isVisible());
    QCOMPARE(first->window()->windowTitle(), QStringLiteral("notes.txt"));
    QVERIFY(first->window()->windowFlags().testFlag(Qt::Tool));
    first->window()->close();
    QTRY_VERIFY(!first);
    QCOMPARE(GetInfoPanelController::openPanels(), QList<GetInfoPanelController*>{second});
    QVERIFY(second->window()->isVisible());
    // A panel still open goes with the window it floats over.
    QWidget* secondWindow = second->window();
    delete secondWindow;
    QVERIFY(!second);
    QVERIFY(GetInfoPanelController::openPanels().isEmpty());
}

// A new panel never opens exactly over another: each steps down and right from the one where it
// would go, and a place a closed panel left is taken again.
void tst_GetInfoPanelController::newPanelsCascade() {
    QWidget mainWindow;
    mainWindow.show();
    const FileItem item =
        itemAt("afc://00008110-001A2B3C4D5E6F70/Downloads/notes.txt", FileKind::document, 10);
    QList<QPointer<GetInfoPanelController>> panels;
    for (int i = 0; i < 3; ++i)
        panels.append(GetInfoPanelController::open(item, nullptr, nullptr, &mainWindow));
    const QPoint first = panels.at(0)->window()->pos();
    const QPoint step(GetInfoPanelController::cascadeOffset, GetInfoPanelController::cascadeOffset);
    QCOMPARE(panels.at(1)->window()->pos(), first + step);
    QCOMPARE(panels.at(2)->window()->pos(), first + step * 2);
    panels.at(1)->window()->close();
    QTRY_VERIFY(!panels.at(1));
    QPointer<GetInfoPanelController> again =
        GetInfoPanelController::open(item, nullptr, nullptr, &mainWindow);
    QCOMPARE(again->window()->pos(), first + step);
    for (GetInfoPanelController* panel : GetInfoPanelController::openPanels())
        panel->window()->close();
    QTRY_VERIFY(GetInfoPanelController::openPanels().isEmpty());
}

void tst_GetInfoPanelController::thumbnailSpinnerEnds_data() {
    QTest::addColumn<bool>("onDevice");
    QTest::addColumn<bool>("closeFirst");
    QTest::addColumn<bool>("thumbnail");
    QTest::newRow("a device photo without a bridge keeps its type icon") << true << false << false;
    QTest::newRow("a computer photo gets its thumbnail") << false << false << true;
    QTest::newRow("closed before the thumbnail came") << false << true << false;
}

void tst_GetInfoPanelController::thumbnailSpinnerEnds() {
    QFETCH(bool, onDevice);
    QFETCH(bool, closeFirst);
    QFETCH(bool, thumbnail);
    QTemporaryDir folder;
    ThumbnailCache cache(folder.filePath(QStringLiteral("cache")));
    const QString photo = folder.filePath(QStringLiteral("IMG_0002.JPG"));
    QFile file(photo);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(jpegBytes(quadrantImage(QSize(64, 48)))) > 0);
    file.close();
    const QString location = onDevice ? QStringLiteral("afc://00008110-001A2B3C4D5E6F70/DCIM/IMG_0002.JPG")
                                      : QUrl::fromLocalFile(photo).toString();
    const FileItem item = itemAt(location, FileKind::image, quint64(QFileInfo(photo).size()),
                                 UniformType::forFilenameExtension("jpg"));
    QPointer<GetInfoPanelController> panel = GetInfoPanelController::open(item, &cache, nullptr, nullptr);
    QVERIFY(panel->thumbnailTask());
    const async::TaskHandle<void> task = *panel->thumbnailTask();
    const qint64 typeIcon = panel->iconView()->pixmap().cacheKey();
    if (closeFirst) {
        QVERIFY(panel->spinner() && panel->spinner()->isAnimating());
        panel->window()->close();
        QTRY_VERIFY(!panel);
    }
    QTRY_VERIFY(task.isFinished());
    if (closeFirst)
        return;
    QTRY_VERIFY(!panel->spinner());
    QCOMPARE(panel->iconView()->pixmap().cacheKey() != typeIcon, thumbnail);
    delete panel->window();
}

void tst_GetInfoPanelController::valuesWrapOnlyPastTheirColumn_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("wraps");
    const QString photo = QStringLiteral("afc://00008110-001A2B3C4D5E6F70/DCIM/IMG_0001.JPG");
    QTest::newRow("the date on one line") << photo << 2 << false;
    QTest::newRow("a short path on one line") << photo << 3 << false;
    QTest::newRow("a long path wraps inside the column")
        << QStringLiteral("afc://00008110-001A2B3C4D5E6F70/DCIM/100APPLE/Rehearsal/Second evening/"
                          "IMG_0001.JPG")
        << 3 << true;
}

// The value column is 160 px wide between a 240 px separator's ends, so a medium date with its
// time never breaks, and only what is longer than the column wraps.
void tst_GetInfoPanelController::valuesWrapOnlyPastTheirColumn() {
    QFETCH(QString, path);
    QFETCH(int, row);
    QFETCH(bool, wraps);
    const URL url = *URL::fromString(path);
    const QDateTime modified(QDate(2024, 5, 30), QTime(14, 29));
    const FileItem item(path, url.lastPathComponent(), url, false, 2'500'000, Date::fromQDateTime(modified),
                        FileKind::image, UniformType::forFilenameExtension("jpg"));
    QPointer<GetInfoPanelController> panel = GetInfoPanelController::open(item, nullptr, nullptr, nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(panel->window()));
    const QList<QFrame*> frames = panel->window()->findChildren<QFrame*>();
    const auto separator = std::find_if(frames.begin(), frames.end(),
                                        [](QFrame* frame) { return frame->frameShape() == QFrame::HLine; });
    QVERIFY(separator != frames.end());
    QCOMPARE((*separator)->width(), 240);
    auto* value = panel->window()->findChild<QLabel*>(QStringLiteral("infoValue-%1").arg(row));
    QVERIFY(value);
    if (row == 2)
        QCOMPARE(value->text(), QStringLiteral("May 30, 2024 at 2:29\u202FPM"));
    QCOMPARE(value->width(), GetInfoPanelController::valueWidth);
    const QRect inPanel(value->mapTo(panel->window(), QPoint(0, 0)), value->size());
    QVERIFY(panel->window()->rect().contains(inPanel));
    const int lines = value->heightForWidth(value->width()) / value->fontMetrics().lineSpacing();
    QCOMPARE(lines > 1, wraps);
    QVERIFY(value->height() >= value->heightForWidth(value->width()));
    delete panel->window();
}

QTEST_MAIN(tst_GetInfoPanelController)
#include "tst_GetInfoPanelController.moc"
