#include "device/LocalFileFacts.h"

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

class tst_LocalFileFacts : public QObject {
    Q_OBJECT

private slots:
    void facts_data();
    void facts();
};

void tst_LocalFileFacts::facts_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<qint64>("size"); // -1: none
    QTest::addColumn<bool>("dated");

    QTest::newRow("file") << "file" << false << qint64(5) << true;
    QTest::newRow("folder") << "folder" << true << qint64(-1) << true;
    // Described itself: no folder, and the size (of the text "target") and date are the link's own.
    QTest::newRow("link to a folder") << "link" << false << qint64(6) << true;
    QTest::newRow("device location") << "device" << false << qint64(-1) << false;
}

void tst_LocalFileFacts::facts() {
    QFETCH(QString, kind);
    QFETCH(bool, isDirectory);
    QFETCH(qint64, size);
    QFETCH(bool, dated);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(kind);
    URL url = URL::fileURL(path);
    if (kind == QLatin1String("file")) {
        QVERIFY(writeTestFile(path, "12345"));
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == QLatin1String("link")) {
        QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("target"))));
        QVERIFY(QFile::link(QStringLiteral("target"), path));
    } else if (kind == QLatin1String("device")) {
        url = *URL::fromString(QStringLiteral("afc://UDID/DCIM"));
    }
    // A whole second plus a fraction, to see that the fraction is not lost.
    const struct timespec times[2] = {{1700000000, 250000000}, {1700000000, 250000000}};
    if (dated)
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);

    QCOMPARE(isDirectoryOnDisk(url), isDirectory);
    QCOMPARE(fileSizeOnDisk(url), size < 0 ? std::nullopt : std::optional<quint64>(size));
    QCOMPARE(modificationDateOnDisk(url),
             dated ? std::optional<Date>(Date::fromSecondsSince1970(1700000000.25)) : std::nullopt);
}

QTEST_GUILESS_MAIN(tst_LocalFileFacts)
#include "tst_LocalFileFacts.moc"
