#include "device/LocalFileFacts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

class tst_LocalFileFacts : public QObject {
    Q_OBJECT

private slots:
    void init();
    void regularFile();
    void folder();
    void missingOrForeignGivesNeutralAnswers_data();
    void missingOrForeignGivesNeutralAnswers();
    void linkToFolderIsNoFolder();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_LocalFileFacts::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_LocalFileFacts::regularFile() {
    const QString path = m_dir->filePath(QStringLiteral("a b.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write("12345"), 5);
    file.close();
    // A whole second plus a fraction, to see that the fraction is not lost.
    const struct timespec times[2] = {{1700000000, 250000000}, {1700000000, 250000000}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);

    const URL url = URL::fileURL(path);
    QVERIFY(!isDirectoryOnDisk(url));
    QCOMPARE(fileSizeOnDisk(url), std::optional<quint64>(5));
    QCOMPARE(modificationDateOnDisk(url), std::optional<Date>(Date::fromSecondsSince1970(1700000000.25)));
}

void tst_LocalFileFacts::folder() {
    const URL url = URL::fileURL(m_dir->path(), true);
    QVERIFY(isDirectoryOnDisk(url));
    QCOMPARE(fileSizeOnDisk(url), std::nullopt);
    QVERIFY(modificationDateOnDisk(url));
}

void tst_LocalFileFacts::missingOrForeignGivesNeutralAnswers_data() {
    QTest::addColumn<QString>("url");
    QTest::newRow("missing") << "file:///no/such/place/at/all";
    QTest::newRow("device location") << "afc://UDID/DCIM";
}

void tst_LocalFileFacts::missingOrForeignGivesNeutralAnswers() {
    QFETCH(QString, url);
    const auto parsed = URL::fromString(url);
    QVERIFY(parsed);
    QVERIFY(!isDirectoryOnDisk(*parsed));
    QCOMPARE(fileSizeOnDisk(*parsed), std::nullopt);
    QCOMPARE(modificationDateOnDisk(*parsed), std::nullopt);
}

void tst_LocalFileFacts::linkToFolderIsNoFolder() {
    const QString target = m_dir->filePath(QStringLiteral("target"));
    const QString link = m_dir->filePath(QStringLiteral("link"));
    QVERIFY(QDir().mkdir(target));
    QVERIFY(QFile::link(target, link));
    QVERIFY(!isDirectoryOnDisk(URL::fileURL(link)));
}

QTEST_GUILESS_MAIN(tst_LocalFileFacts)
#include "tst_LocalFileFacts.moc"
