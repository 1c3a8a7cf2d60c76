#include "LogCapture.h"
#include "platform/UserDefaults.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

class tst_UserDefaults : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void keepsTypesAcrossReload_data() {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("expected");

        const QByteArray bytes("\x00\x01\xFFjson", 7);
        QTest::newRow("bool true") << QVariant(true) << QVariant(true);
        QTest::newRow("one stays integer") << QVariant(1) << QVariant(qint64(1));
        QTest::newRow("negative 64-bit")
            << QVariant(qint64(-5'000'000'000)) << QVariant(qint64(-5'000'000'000));
        QTest::newRow("double") << QVariant(0.1) << QVariant(0.1);
        QTest::newRow("whole double") << QVariant(2.0) << QVariant(2.0);
        QTest::newRow("string") << QVariant(QStringLiteral("Größe 😀")) << QVariant(QStringLiteral("Größe 😀"));
        QTest::newRow("data") << QVariant(bytes) << QVariant(bytes);
        QTest::newRow("empty data") << QVariant(QByteArray()) << QVariant(QByteArray());
        QTest::newRow("string list") << QVariant(QStringList{"afc://U/a", "file:///b"})
                                     << QVariant(QVariantList{QStringLiteral("afc://U/a"),
                                                              QStringLiteral("file:///b")});
        const QVariantList nested{true, qint64(3), QVariantList{QByteArray("x")},
                                  QVariantMap{{"k", QVariantList{1.5, QStringLiteral("s")}}}};
        QTest::newRow("nested") << QVariant(nested) << QVariant(nested);
    }

    // Readers treat a bool and the number 1 differently, and data is only data when stored as data:
    // a value must come back from the file with the type it went in with.
    void keepsTypesAcrossReload() {
        QFETCH(QVariant, value);
        QFETCH(QVariant, expected);
        {
            UserDefaults defaults(filePath());
            defaults.set(QStringLiteral("key"), value);
            QCOMPARE(defaults.object(QStringLiteral("key")), expected);
            QCOMPARE(defaults.object(QStringLiteral("key"))->typeId(), expected.typeId());
        }
        const UserDefaults reloaded(filePath());
        const std::optional<QVariant> read = reloaded.object(QStringLiteral("key"));
        QVERIFY(read);
        QCOMPARE(*read, expected);
        QCOMPARE(read->typeId(), expected.typeId());
    }

    void readsTypedValues_data() {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("asBool");
        QTest::addColumn<qint64>("asInteger");
        QTest::addColumn<bool>("isString");
        QTest::addColumn<bool>("isData");
        QTest::addColumn<bool>("isArray");

        QTest::newRow("absent") << QVariant() << false << qint64(0) << false << false << false;
        QTest::newRow("true") << QVariant(true) << true << qint64(1) << false << false << false;
        QTest::newRow("two") << QVariant(2) << true << qint64(2) << false << false << false;
        QTest::newRow("fraction") << QVariant(-7.9) << true << qint64(-7) << false << false << false;
        QTest::newRow("YES") << QVariant("YES") << true << qint64(0) << true << false << false;
        QTest::newRow("NO") << QVariant("NO") << false << qint64(0) << true << false << false;
        QTest::newRow("numeric text") << QVariant(" 12") << true << qint64(12) << true << false << false;
        QTest::newRow("data") << QVariant(QByteArray("1")) << false << qint64(0) << false << true << false;
        QTest::newRow("array") << QVariant(QVariantList{1}) << false << qint64(0) << false << false << true;
    }

    void readsTypedValues() {
        QFETCH(QVariant, value);
        UserDefaults defaults(filePath());
        defaults.set(QStringLiteral("key"), value);
        const QString key = QStringLiteral("key");
        QTEST(defaults.boolForKey(key), "asBool");
        QTEST(defaults.integerForKey(key), "asInteger");
        QTEST(defaults.stringForKey(key).has_value(), "isString");
        QTEST(defaults.dataForKey(key).has_value(), "isData");
        QTEST(defaults.arrayForKey(key).has_value(), "isArray");
    }

    void startsEmptyOnUnreadableFile_data() {
        QTest::addColumn<QByteArray>("content");

        QTest::newRow("garbage") << QByteArray("\x01\x02not a plist at all");
        QTest::newRow("truncated binary") << QByteArray("bplist00\xd1\x01\x02", 11);
        QTest::newRow("root is no dictionary")
            << QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><array><true/></array></plist>");
    }

    // A damaged file must neither crash the app nor be overwritten before someone could rescue it.
    void startsEmptyOnUnreadableFile() {
        QFETCH(QByteArray, content);
        {
            QFile file(filePath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        LogCapture capture;
        UserDefaults defaults(filePath());
        QVERIFY(defaults.keys().isEmpty());
        QCOMPARE(capture.messages(QStringLiteral("orvanta.platform")).size(), 1);

        defaults.set(QStringLiteral("hasCompletedFirstRun"), true);
        QCOMPARE(UserDefaults(filePath()).object(QStringLiteral("hasCompletedFirstRun")), QVariant(true));
        QFile aside(filePath() + QStringLiteral(".unreadable"));
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), content);
    }

    // When the damaged file cannot even be moved aside, it is still never overwritten.
    void damagedFileThatCannotBeMovedAsideIsKept() {
        const QByteArray content("\x01\x02not a plist at all");
        {
            QFile file(filePath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        QVERIFY(QDir().mkpath(filePath() + QStringLiteral(".unreadable/occupied")));
        LogCapture capture;
        UserDefaults defaults(filePath());
        defaults.set(QStringLiteral("hasCompletedFirstRun"), true);
        QCOMPARE(defaults.object(QStringLiteral("hasCompletedFirstRun")), QVariant(true));

        QFile file(filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }

    void removalIsSaved() {
        UserDefaults defaults(filePath());
        defaults.set(QStringLiteral("a"), 1);
        defaults.set(QStringLiteral("b"), 2);
        defaults.set(QStringLiteral("c"), 3);
        defaults.remove(QStringLiteral("a"));
        defaults.set(QStringLiteral("b"), QVariant());
        QCOMPARE(UserDefaults(filePath()).keys(), QStringList{QStringLiteral("c")});
    }

    void refusesUnstorableTypes() {
        UserDefaults defaults(filePath());
        defaults.set(QStringLiteral("kept"), QStringLiteral("old"));
        LogCapture capture;
        defaults.set(QStringLiteral("kept"), QDateTime::currentDateTimeUtc());
        defaults.set(QStringLiteral("list"), QVariantList{1, QDateTime::currentDateTimeUtc()});
        QCOMPARE(capture.messages(QStringLiteral("orvanta.platform")).size(), 2);
        QCOMPARE(defaults.stringForKey(QStringLiteral("kept")), QStringLiteral("old"));
        QVERIFY(!defaults.object(QStringLiteral("list")));
    }

    void keepsConcurrentWrites() {
        UserDefaults defaults(filePath());
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back(QThread::create([&defaults, t] {
                for (int i = 0; i < 25; ++i)
                    defaults.set(QStringLiteral("k%1-%2").arg(t).arg(i), i);
            }));
            threads.back()->start();
        }
        for (auto& thread : threads)
            thread->wait();
        QCOMPARE(defaults.keys().size(), 100);
        const UserDefaults reloaded(filePath());
        QCOMPARE(reloaded.keys().size(), 100);
        QCOMPARE(reloaded.integerForKey(QStringLiteral("k3-24")), 24);
    }

private:
    QString filePath() const { return m_dir->filePath(QStringLiteral("defaults.plist")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(tst_UserDefaults)
#include "tst_UserDefaults.moc"
