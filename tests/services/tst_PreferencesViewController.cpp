#include "services/PreferencesViewController.h"

#include "platform/ArchivedURL.h"

#include <QTemporaryDir>
#include <QTest>

#include <functional>

using BoolReader = std::function<bool()>;

class tst_PreferencesViewController : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void defaultsWhenNothingIsStored();
    void booleanSettingsAreStrict_data();
    void booleanSettingsAreStrict();
    void lenientBooleans_data();
    void lenientBooleans();
    void destinations();
    void chunkSize_data();
    void chunkSize();

private:
    QTemporaryDir m_dir;
};

void tst_PreferencesViewController::initTestCase() {
    QVERIFY(m_dir.isValid());
    UserDefaults::setStandardFilePathForTesting(m_dir.filePath(QStringLiteral("defaults.plist")));
    QCOMPARE(&PreferencesViewController::defaults(), &UserDefaults::standard());
}

void tst_PreferencesViewController::init() {
    UserDefaults& defaults = PreferencesViewController::defaults();
    for (const QString& key : defaults.keys())
        defaults.remove(key);
}

void tst_PreferencesViewController::defaultsWhenNothingIsStored() {
    QCOMPARE(PreferencesViewController::autoIngestEnabled(), false);
    QCOMPARE(PreferencesViewController::verifyTransfers(), false);
    QCOMPARE(PreferencesViewController::autoIngestIncludeDeviceFolder(), true);
    QCOMPARE(PreferencesViewController::autoIngestIncludeDateFolder(), true);
    QCOMPARE(PreferencesViewController::preserveTimestamps(), true);
    QCOMPARE(PreferencesViewController::enableThumbnails(), true);
    QCOMPARE(PreferencesViewController::showHiddenFiles(), false);
    QCOMPARE(PreferencesViewController::hasCompletedFirstRun(), false);

    const URL downloads = PreferencesViewController::defaultDestination();
    QVERIFY(downloads.isFileURL());
    QVERIFY(downloads.hasDirectoryPath());
    QCOMPARE(PreferencesViewController::autoIngestDestination(), downloads);
}

void tst_PreferencesViewController::booleanSettingsAreStrict_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<BoolReader>("reader");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("expected");

    const BoolReader preserve = &PreferencesViewController::preserveTimestamps; // default true
    const BoolReader verify = &PreferencesViewController::verifyTransfers;      // default false
    const QString preserveKey = PreferencesViewController::preserveTimestampsKey;
    const QString verifyKey = PreferencesViewController::verifyTransfersKey;

    QTest::newRow("bool false") << preserveKey << preserve << QVariant(false) << false;
    QTest::newRow("number 0 is false") << preserveKey << preserve << QVariant(qint64(0)) << false;
    QTest::newRow("number 1 is true") << verifyKey << verify << QVariant(qint64(1)) << true;
    QTest::newRow("real 1.0 is true") << verifyKey << verify << QVariant(1.0) << true;
    QTest::newRow("number 2 is the default") << preserveKey << preserve << QVariant(qint64(2)) << true;
    QTest::newRow("text NO is the default")
        << preserveKey << preserve << QVariant(QStringLiteral("NO")) << true;
    QTest::newRow("text YES is the default")
        << verifyKey << verify << QVariant(QStringLiteral("YES")) << false;
    QTest::newRow("data is the default") << verifyKey << verify << QVariant(QByteArray("\x01")) << false;
}

void tst_PreferencesViewController::booleanSettingsAreStrict() {
    QFETCH(QString, key);
    QFETCH(BoolReader, reader);
    QFETCH(QVariant, stored);
    QFETCH(bool, expected);
    PreferencesViewController::defaults().set(key, stored);
    QCOMPARE(reader(), expected);
}

void tst_PreferencesViewController::lenientBooleans_data() {
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("expected");
    QTest::newRow("bool") << QVariant(true) << true;
    QTest::newRow("text YES") << QVariant(QStringLiteral("YES")) << true;
    QTest::newRow("number 2") << QVariant(qint64(2)) << true;
    QTest::newRow("text NO") << QVariant(QStringLiteral("NO")) << false;
}

void tst_PreferencesViewController::lenientBooleans() {
    // These two keep the platform's own boolean reading, which their users have always had.
    QFETCH(QVariant, stored);
    QFETCH(bool, expected);
    PreferencesViewController::defaults().set(PreferencesViewController::showHiddenFilesKey, stored);
    PreferencesViewController::defaults().set(PreferencesViewController::hasCompletedFirstRunKey, stored);
    QCOMPARE(PreferencesViewController::showHiddenFiles(), expected);
    QCOMPARE(PreferencesViewController::hasCompletedFirstRun(), expected);
}

void tst_PreferencesViewController::destinations() {
    UserDefaults& defaults = PreferencesViewController::defaults();
    const URL downloads = PreferencesViewController::defaultDestination();

    // Foreign data reads as unset, and the auto-ingest folder follows the default destination.
    defaults.set(PreferencesViewController::autoIngestDestinationKey, QByteArray("not an archive"));
    QCOMPARE(PreferencesViewController::autoIngestDestination(), downloads);
    defaults.set(PreferencesViewController::defaultDestinationKey, QStringLiteral("/Volumes/Photos"));
    QCOMPARE(PreferencesViewController::defaultDestination(), downloads);

    // A stored folder is returned even when it no longer exists: the copy reports that later.
    const URL photos = URL::fileURL(QStringLiteral("/Volumes/Photos"), true);
    defaults.set(PreferencesViewController::defaultDestinationKey, archiveURL(photos));
    QCOMPARE(PreferencesViewController::defaultDestination(), photos);
    QCOMPARE(PreferencesViewController::autoIngestDestination(), photos);

    const URL ingest = URL::fileURL(QStringLiteral("/home/me/Camera Roll"), true);
    defaults.set(PreferencesViewController::autoIngestDestinationKey, archiveURL(ingest));
    QCOMPARE(PreferencesViewController::autoIngestDestination(), ingest);
}

void tst_PreferencesViewController::chunkSize_data() {
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<qint64>("chunk");

    const qint64 mib = 1024 * 1024;
    QTest::newRow("unset") << QVariant() << 8 * mib;
    QTest::newRow("1 MiB is raised") << QVariant(mib) << 8 * mib;
    QTest::newRow("16 MiB") << QVariant(16 * mib) << 16 * mib;
    QTest::newRow("128 MiB") << QVariant(128 * mib) << 128 * mib;
    QTest::newRow("hand-edited terabyte is capped") << QVariant(qint64(1) << 40) << 128 * mib;
    QTest::newRow("negative") << QVariant(-mib) << 8 * mib;
}

void tst_PreferencesViewController::chunkSize() {
    QFETCH(QVariant, stored);
    QFETCH(qint64, chunk);
    PreferencesViewController::defaults().set(PreferencesViewController::chunkSizeKey, stored);
    QCOMPARE(PreferencesViewController::macChunkSize(), chunk);
}

QTEST_GUILESS_MAIN(tst_PreferencesViewController)
#include "tst_PreferencesViewController.moc"
