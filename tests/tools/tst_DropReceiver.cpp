// The drop receiver the screenshot walk-through drags files onto: what it copies and prints.
#include "DropReceiver.h"
#include "TestFiles.h"

#include <QMimeData>
#include <QTemporaryDir>
#include <QtTest>

class tst_DropReceiver : public QObject {
    Q_OBJECT
private slots:
    void copiesTheDroppedFiles();
    void ignoresDropsWithoutFiles();
    void ownCopyDroppedBackStaysWhole_data();
    void ownCopyDroppedBackStaysWhole();
};

namespace {

// Drops urls on receiver as a drag from another program would: it enters, then drops.
void drop(DropReceiver& receiver, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&receiver, &enter);
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&receiver, &event);
}

} // namespace

void tst_DropReceiver::copiesTheDroppedFiles() {
    QTemporaryDir from, to;
    const QString photo = from.filePath(QStringLiteral("IMG 1.JPG"));
    QVERIFY(writeTestFile(photo, patternBytes(70000)));
    QVERIFY(writeTestFile(to.filePath(QStringLiteral("IMG 1.JPG")), "an older copy"));
    QString printed;
    QTextStream out(&printed);
    DropReceiver receiver(to.path(), out);

    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(photo), QUrl::fromLocalFile(from.path()),
                   QUrl(QStringLiteral("https://example.com/x"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&receiver, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&receiver, &drop);
    delete data;
    QVERIFY(drop.isAccepted());

    QCOMPARE(fileContents(to.filePath(QStringLiteral("IMG 1.JPG"))), patternBytes(70000));
    const QStringList lines = printed.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.first(), QStringLiteral("drag entered"));
    QCOMPARE(lines.at(1), QUrl::fromLocalFile(photo).toString(QUrl::FullyEncoded));
    QVERIFY(lines.contains(QStringLiteral("not a file: https://example.com/x")));
    QCOMPARE(lines.last(), QStringLiteral("copied 1"));
}

void tst_DropReceiver::ignoresDropsWithoutFiles() {
    QTemporaryDir to;
    QString printed;
    QTextStream out(&printed);
    DropReceiver receiver(to.path(), out);
    QMimeData data;
    data.setText(QStringLiteral("/etc/hostname"));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&receiver, &enter);
    QVERIFY(!enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    drop.ignore();
    QCoreApplication::sendEvent(&receiver, &drop);
    QVERIFY(printed.isEmpty());
    QVERIFY(QDir(to.path()).isEmpty());
}

void tst_DropReceiver::ownCopyDroppedBackStaysWhole_data() {
    QTest::addColumn<bool>("throughLink"); // the file named by a link of the same name elsewhere
    QTest::newRow("its own copy") << false;
    QTest::newRow("a link to its own copy") << true;
}

// A copy dragged out of the window and let go over it again, as a hand easily does.
void tst_DropReceiver::ownCopyDroppedBackStaysWhole() {
    QFETCH(bool, throughLink);
    QTemporaryDir from, to, links;
    const QString photo = from.filePath(QStringLiteral("IMG_2.HEIC"));
    QVERIFY(writeTestFile(photo, patternBytes(5000)));
    QString printed;
    QTextStream out(&printed);
    DropReceiver receiver(to.path(), out);
    drop(receiver, {QUrl::fromLocalFile(photo)});
    const QString copy = to.filePath(QStringLiteral("IMG_2.HEIC"));
    QString dropped = copy;
    if (throughLink) {
        dropped = links.filePath(QStringLiteral("IMG_2.HEIC"));
        QVERIFY(QFile::link(copy, dropped));
    }
    printed.clear();

    drop(receiver, {QUrl::fromLocalFile(dropped)});
    QCOMPARE(fileContents(copy), patternBytes(5000));
    QCOMPARE(printed.split(u'\n', Qt::SkipEmptyParts).last(), QStringLiteral("copied 1"));
}

QTEST_MAIN(tst_DropReceiver)
#include "tst_DropReceiver.moc"
