// The preview panel: the order in which it asks its data source, what it shows for each kind of
// file, and which keys it keeps for itself.

#include "TestFiles.h"
#include "TestMedia.h"
#include "uikit/QuickLookPanel.h"
#include "uikit/Workspace.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Serves a fixed list, records each question in order, and takes the Down key.
class RecordingSource : public QuickLookPanelDataSource, public QuickLookPanelDelegate {
public:
    QList<URL> items;
    QStringList calls;
    int keysTaken = 0;
    int numberOfPreviewItems(QuickLookPanel*) override {
        calls << QStringLiteral("count");
        return int(items.size());
    }
    std::optional<URL> previewItemAt(QuickLookPanel*, int index) override {
        calls << QStringLiteral("item %1").arg(index);
        return items.value(index);
    }
    bool handleKeyEvent(QuickLookPanel*, QKeyEvent* event) override {
        keysTaken += event->key() == Qt::Key_Down;
        return event->key() == Qt::Key_Down;
    }
};

URL writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    writeTestFile(dir.filePath(name), bytes);
    return URL::fileURL(dir.filePath(name));
}

} // namespace

class tst_QuickLookPanel : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QuickLookPanel::destroyShared(); }

    void content_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("shownText"); // for the rest: the type whose icon shows
        QTest::newRow("picture") << "photo.jpg" << jpegBytes(quadrantImage(QSize(1600, 900)))
                                 << int(QuickLookPanel::ContentKind::image) << QString();
        QTest::newRow("text") << "notes.txt" << QByteArray("first line\nsecond")
                              << int(QuickLookPanel::ContentKind::text) << "first line\nsecond";
        QTest::newRow("text longer than the preview")
            << "long.txt" << QByteArray(QuickLookPanel::textPreviewBytes + 10, 'x')
            << int(QuickLookPanel::ContentKind::text) << QString(QuickLookPanel::textPreviewBytes, 'x');
        QTest::newRow("damaged picture") << "broken.png" << QByteArray("\x89PNG\r\n\x1a\nbroken")
                                         << int(QuickLookPanel::ContentKind::other) << "image/png";
        QTest::newRow("anything else") << "archive.zip" << QByteArray("PK\x03\x04rest", 8)
                                       << int(QuickLookPanel::ContentKind::other) << "application/zip";
        // Qt PDF keeps a little of each such file it was handed (its own leak, suppressed for
        // the sanitizer's report at quit).
        QTest::newRow("named .pdf, but no PDF")
            << "report.pdf" << QByteArray("just some text\n") << int(QuickLookPanel::ContentKind::other)
            << "application/pdf";
    }

    // Pictures decode scaled to the panel, text shows its start, the rest its name, size and an
    // Open button that hands the file to the desktop.
    void content() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, kind);
        QFETCH(QString, shownText);
        QTemporaryDir dir;
        RecordingSource source;
        source.items = {writeFile(dir, name, bytes)};
        QuickLookPanel* panel = QuickLookPanel::shared();
        panel->setDataSource(&source);
        QSignalSpy shown(panel, &QuickLookPanel::previewShown);
        panel->reloadData();
        panel->makeKeyAndOrderFront();
        QTRY_COMPARE(shown.size(), 1);
        QCOMPARE(int(panel->contentKind()), kind);
        QCOMPARE(panel->windowTitle(), name);
        if (kind == int(QuickLookPanel::ContentKind::image)) {
            const QPixmap pixmap = panel->findChild<QLabel*>(QStringLiteral("quickLookImage"))->pixmap();
            QVERIFY(!pixmap.isNull());
            QVERIFY(pixmap.width() <= panel->width());
        } else if (kind == int(QuickLookPanel::ContentKind::text)) {
            QCOMPARE(panel->findChild<QPlainTextEdit*>(QStringLiteral("quickLookText"))->toPlainText(),
                     shownText);
        } else {
            QStringList opened;
            Workspace::setOpenerForTesting([&opened](const URL& url) {
                opened << url.absoluteString();
                return true;
            });
            QCOMPARE(panel->findChild<QLabel*>(QStringLiteral("quickLookName"))->text(), name);
            QVERIFY(!panel->findChild<QLabel*>(QStringLiteral("quickLookSize"))->text().isEmpty());
            QCOMPARE(panel->findChild<QLabel*>(QStringLiteral("quickLookIcon"))
                         ->property(QuickLookPanel::iconMimeTypeProperty)
                         .toString(),
                     shownText);
            panel->findChild<QPushButton*>(QStringLiteral("quickLookOpen"))->click();
            QCOMPARE(opened, QStringList{source.items.first().absoluteString()});
        }
    }

    void keys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("delegateTakes");
        QTest::addColumn<bool>("staysOpen");
        QTest::addColumn<int>("index"); // of the item shown afterwards
        QTest::newRow("space closes") << int(Qt::Key_Space) << false << false << 0;
        QTest::newRow("escape closes") << int(Qt::Key_Escape) << false << false << 0;
        QTest::newRow("right steps forward") << int(Qt::Key_Right) << false << true << 1;
        QTest::newRow("down taken by the delegate") << int(Qt::Key_Down) << true << true << 0;
        QTest::newRow("a letter does nothing") << int(Qt::Key_A) << false << true << 0;
    }

    // The delegate is asked first; what it takes the panel never sees.
    void keys() {
        QFETCH(int, key);
        QFETCH(bool, delegateTakes);
        QFETCH(bool, staysOpen);
        QFETCH(int, index);
        QTemporaryDir dir;
        RecordingSource source;
        source.items = {writeFile(dir, "1.txt", "1"), writeFile(dir, "2.txt", "2")};
        QuickLookPanel* panel = QuickLookPanel::shared();
        panel->setDataSource(&source);
        panel->setDelegate(&source);
        panel->reloadData();
        panel->makeKeyAndOrderFront();
        QTest::keyClick(panel, Qt::Key(key));
        QCOMPARE(panel->isPanelVisible(), staysOpen);
        QCOMPARE(panel->currentPreviewItemIndex(), index);
        QCOMPARE(source.keysTaken, delegateTakes ? 1 : 0);
    }

    // The count first (the data source rebuilds its items when asked for it); and a load
    // overtaken by a newer one never replaces what the newer one shows.
    void reloadAsksTheCountFirstAndDropsStaleLoads() {
        QTemporaryDir dir;
        RecordingSource source;
        source.items = {writeFile(dir, "first.txt", "first"), writeFile(dir, "second.txt", "second")};
        QuickLookPanel* panel = QuickLookPanel::shared();
        panel->setDataSource(&source);
        QSignalSpy shown(panel, &QuickLookPanel::previewShown);
        panel->reloadData();
        QCOMPARE(source.calls, (QStringList{"count", "item 0", "item 1"}));
        panel->setCurrentPreviewItemIndex(1);
        QTRY_COMPARE(shown.size(), 1);
        QCOMPARE(shown.first().first().toInt(), 1);
        QCOMPARE(panel->findChild<QPlainTextEdit*>(QStringLiteral("quickLookText"))->toPlainText(),
                 QStringLiteral("second"));
    }

    // A PDF's page that paints no background of its own shows on paper, as every viewer shows
    // it, never on the panel's own colour: what the page leaves unpainted is opaque white.
    void pdfPageShowsOnWhitePaper() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("letter.pdf"));
        {
            QPdfWriter writer(path);
            writer.setPageSize(QPageSize(QPageSize::A6));
            writer.setPageMargins(QMarginsF());
            QPainter painter(&writer);
            painter.fillRect(QRect(0, 0, writer.width() / 4, writer.height() / 4), Qt::black);
        }
        RecordingSource source;
        source.items = {URL::fileURL(path)};
        QuickLookPanel* panel = QuickLookPanel::shared();
        panel->setDataSource(&source);
        QSignalSpy shown(panel, &QuickLookPanel::previewShown);
        panel->reloadData();
        panel->makeKeyAndOrderFront();
        QTRY_COMPARE(shown.size(), 1);
        QCOMPARE(panel->contentKind(), QuickLookPanel::ContentKind::image);
        const QImage page = panel->findChild<QLabel*>(QStringLiteral("quickLookImage"))->pixmap().toImage();
        QVERIFY(!page.isNull());
        QCOMPARE(page.pixelColor(page.width() / 2, page.height() / 2), QColor(Qt::white));
        // What the page paints stays as it is.
        QCOMPARE(page.pixelColor(page.width() / 8, page.height() / 8), QColor(Qt::black));
    }
};

QTEST_MAIN(tst_QuickLookPanel)
#include "tst_QuickLookPanel.moc"
