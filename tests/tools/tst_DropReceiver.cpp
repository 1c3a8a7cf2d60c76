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
};

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
    QCOMPARE(lines.first(), QUrl::fromLocalFile(photo).toString(QUrl::FullyEncoded));
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

QTEST_MAIN(tst_DropReceiver)
#include "tst_DropReceiver.moc"
