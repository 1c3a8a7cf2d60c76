#include "services/PreferencesViewController.h"

#include "platform/ArchivedURL.h"

#include <QTemporaryDir>
#include <QTest>

#include <functional>

using BoolReader = std::function<bool()>;
using Controller = PreferencesViewController;

class tst_PreferencesViewController : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        UserDefaults::setStandardFilePathForTesting(m_dir.filePath(QStringLiteral("defaults.plist")));
        QCOMPARE(&Controller::defaults(), &UserDefaults::standard());
    }

    // The store outlives this test and writes at exit what is still pending: write it while the
    // folder is there.
    void cleanupTestCase() { Controller::defaults().flush(); }

    void init() {
        for (const QString& key : Controller::defaults().keys())
            Controller::defaults().remove(key);
    }

    // A value of the wrong type, hand-edited or left by an old version, reads as the default.
    void booleanSettingsAreStrict_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<BoolReader>("reader");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("expected");

        const BoolReader preserve = &Controller::preserveTimestamps; // default true
        const BoolReader verify = &Controller::verifyTransfers;      // default false
        const QString preserveKey = Controller::preserveTimestampsKey;
        const QString verifyKey = Controller::verifyTransfersKey;

        QTest::newRow("bool false") << preserveKey << preserve << QVariant(false) << false;
        QTest::newRow("real 1.0 is true") << verifyKey << verify << QVariant(1.0) << true;
        QTest::newRow("number 2 is the default") << preserveKey << preserve << QVariant(qint64(2)) << true;
        QTest::newRow("text YES is the default")
            << verifyKey << verify << QVariant(QStringLiteral("YES")) << false;
    }

    void booleanSettingsAreStrict() {
        QFETCH(QString, key);
        QFETCH(BoolReader, reader);
        QFETCH(QVariant, stored);
        QFETCH(bool, expected);
        Controller::defaults().set(key, stored);
        QCOMPARE(reader(), expected);
    }

    void destinations() {
        UserDefaults& defaults = Controller::defaults();
        const URL downloads = Controller::defaultDestination();
        QVERIFY(downloads.isFileURL());
        QVERIFY(downloads.hasDirectoryPath());

        // Foreign data reads as unset, and the auto-ingest folder follows the default destination.
        defaults.set(Controller::autoIngestDestinationKey, QByteArray("not an archive"));
        QCOMPARE(Controller::autoIngestDestination(), downloads);
        defaults.set(Controller::defaultDestinationKey, QStringLiteral("/Volumes/Photos"));
        QCOMPARE(Controller::defaultDestination(), downloads);

        // A stored folder is returned even when it no longer exists: the copy reports that later.
        const URL photos = URL::fileURL(QStringLiteral("/Volumes/Photos"), true);
        defaults.set(Controller::defaultDestinationKey, archiveURL(photos));
        QCOMPARE(Controller::defaultDestination(), photos);
        QCOMPARE(Controller::autoIngestDestination(), photos);

        const URL ingest = URL::fileURL(QStringLiteral("/home/me/Camera Roll"), true);
        defaults.set(Controller::autoIngestDestinationKey, archiveURL(ingest));
        QCOMPARE(Controller::autoIngestDestination(), ingest);
    }

    void chunkSize_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<qint64>("chunk");

        const qint64 mib = 1024 * 1024;
        QTest::newRow("unset") << QVariant() << 8 * mib;
        QTest::newRow("1 MiB is raised") << QVariant(mib) << 8 * mib;
        QTest::newRow("hand-edited terabyte is capped") << QVariant(qint64(1) << 40) << 128 * mib;
        QTest::newRow("negative") << QVariant(-mib) << 8 * mib;
    }

    void chunkSize() {
        QFETCH(QVariant, stored);
        QFETCH(qint64, chunk);
        Controller::defaults().set(Controller::chunkSizeKey, stored);
        QCOMPARE(Controller::macChunkSize(), chunk);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(tst_PreferencesViewController)
#include "tst_PreferencesViewController.moc"
