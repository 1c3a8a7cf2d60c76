#include "LogCapture.h"
#include "TestFiles.h"
#include "platform/PlatformLog.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <plist/plist.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;
using NodeMaker = std::function<plist_t()>;

QString platformCategory() {
    return QString::fromLatin1(platformLog().loggingCategory().categoryName());
}

QByteArray xmlOf(plist_t node) {
    char* xml = nullptr;
    uint32_t length = 0;
    if (node)
        plist_to_xml(node, &xml, &length);
    const QByteArray result(xml, length);
    std::free(xml);
    return result;
}

// A binary plist, written by hand so that it can hold what our own writer never produces.
// References are two bytes; object 0 is the root.
QByteArray twoBytes(int value) {
    return QByteArray(1, char(value >> 8)) + char(value & 0xFF);
}

QByteArray binaryPlist(const QList<QByteArray>& objects) {
    QByteArray data("bplist00");
    QList<qsizetype> offsets;
    for (const QByteArray& object : objects) {
        offsets.append(data.size());
        data += object;
    }
    const qsizetype table = data.size();
    for (const qsizetype offset : offsets)
        data += QByteArray(2, '\0') + twoBytes(int(offset));
    data += QByteArray(6, '\0') + char(4) + char(2);
    for (const qsizetype number : {qsizetype(objects.size()), qsizetype(0), table})
        data += QByteArray(6, '\0') + twoBytes(int(number));
    return data;
}

// A dictionary of one entry whose key and value are the objects 1 and 2.
QByteArray oneEntry() {
    return QByteArray(1, char(0xD1)) + twoBytes(1) + twoBytes(2);
}

QByteArray asciiString(const QByteArray& text) {
    return char(0x50 | text.size()) + text;
}

QByteArray utf16String(const QString& text) {
    QByteArray object(1, char(0x60 | text.size()));
    for (const QChar c : text)
        object += twoBytes(c.unicode());
    return object;
}

// Everything a store holds, as it reads it.
QVariantMap contentsOf(const UserDefaults& defaults) {
    QVariantMap contents;
    for (const QString& key : defaults.keys())
        contents.insert(key, defaults.object(key).value_or(QVariant()));
    return contents;
}

// Applies each change: an invalid value removes its key.
void change(UserDefaults& defaults, const QVariantMap& changes) {
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        defaults.set(it.key(), it.value());
}

// The other running instance of the two-process test: this program run again with the settings
// file in this variable. Once told to go it sets its keys one by one, each written at once, while
// the test sets its own; then it waits until it sees every one of the test's.
const char* const otherInstanceVariable = "ORVANTA_TEST_OTHER_INSTANCE";
constexpr int keysEach = 30;

QString keyOf(const char* instance, int i) {
    return QStringLiteral("%1-%2").arg(QLatin1String(instance)).arg(i);
}

bool holdsAll(const UserDefaults& defaults, const char* instance) {
    for (int i = 0; i < keysEach; ++i)
        if (defaults.integerForKey(keyOf(instance, i)) != i + 1)
            return false;
    return true;
}

int runOtherInstance(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    UserDefaults defaults(qEnvironmentVariable(otherInstanceVariable));
    std::printf("ready\n");
    std::fflush(stdout);
    char go[8] = {};
    if (!std::fgets(go, sizeof go, stdin))
        return 2;
    for (int i = 0; i < keysEach; ++i) {
        defaults.set(keyOf("other", i), i + 1);
        defaults.flush();
    }
    // Bounded only so that a broken store cannot hang the test; seeing the keys ends the wait.
    const bool seen = QTest::qWaitFor([&defaults] { return holdsAll(defaults, "test"); }, 30000);
    std::printf(seen ? "seen\n" : "not seen\n");
    std::fflush(stdout);
    return seen ? 0 : 1;
}

// Arrays nested depth deep, each holding the next, the last one empty; they start at object 3.
QList<QByteArray> nestedArrays(int depth) {
    QList<QByteArray> objects{oneEntry(), asciiString("deep")};
    for (int level = 0; level < depth; ++level)
        objects.append(level + 1 < depth ? char(0xA1) + twoBytes(level + 3) : QByteArray(1, char(0xA0)));
    return objects;
}

} // namespace

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
        QTest::newRow("data") << QVariant(bytes) << QVariant(bytes);
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

    void startsEmptyOnUnreadableFile_data() {
        QTest::addColumn<QByteArray>("content");

        QTest::newRow("garbage") << QByteArray("\x01\x02not a plist at all");
        QTest::newRow("root is no dictionary")
            << QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><array><true/></array></plist>");
        QTest::newRow("nested too deeply") << binaryPlist(nestedArrays(300));
    }

    // A damaged file must neither crash the app nor be overwritten before someone could rescue it,
    // and a file damaged again later must not destroy the copy rescued the first time.
    void startsEmptyOnUnreadableFile() {
        QFETCH(QByteArray, content);
        const QStringList asides{filePath() + QStringLiteral(".unreadable"),
                                 filePath() + QStringLiteral(".unreadable-2")};
        for (const QString& aside : asides) {
            QVERIFY(writeTestFile(filePath(), content));
            LogCapture capture;
            UserDefaults defaults(filePath());
            QVERIFY(defaults.keys().isEmpty());
            const QStringList logged = capture.messages(platformCategory());
            QCOMPARE(logged.size(), 1);
            QVERIFY2(logged.first().contains(aside), qPrintable(logged.first()));

            defaults.set(QStringLiteral("hasCompletedFirstRun"), true);
            defaults.flush();
            QCOMPARE(UserDefaults(filePath()).object(QStringLiteral("hasCompletedFirstRun")), QVariant(true));
        }
        for (const QString& aside : asides)
            QCOMPARE(fileContents(aside), content);
    }

    // When the damaged file cannot even be moved aside (its rescue name would be longer than a
    // file name may be), it is still never overwritten.
    void damagedFileThatCannotBeMovedAsideIsKept() {
        const QString path = m_dir->filePath(QString(250, QLatin1Char('d')));
        const QByteArray content("\x01\x02not a plist at all");
        QVERIFY(writeTestFile(path, content));
        LogCapture capture;
        UserDefaults defaults(path);
        defaults.set(QStringLiteral("hasCompletedFirstRun"), true);
        defaults.flush();
        QCOMPARE(defaults.object(QStringLiteral("hasCompletedFirstRun")), QVariant(true));
        QCOMPARE(fileContents(path), content);
    }

    void changesGatherIntoOneWrite_data() {
        QTest::addColumn<QList<int>>("bursts");
        QTest::addColumn<int>("writes");

        QTest::newRow("no change") << QList<int>{0} << 0;
        QTest::newRow("a burst, flushed, another") << QList<int>{50, 50} << 2;
    }

    // Every burst of changes ends with flush(): until then set() has written nothing, after it
    // the file holds every change, and each burst cost one write.
    void changesGatherIntoOneWrite() {
        QFETCH(QList<int>, bursts);
        UserDefaults defaults(filePath(), std::chrono::hours(1));
        QStringList onDisk;
        for (int burst = 0; burst < bursts.size(); ++burst) {
            for (int i = 0; i < bursts[burst]; ++i)
                defaults.set(QStringLiteral("k%1-%2").arg(burst).arg(i), i);
            QCOMPARE(UserDefaults(filePath()).keys(), onDisk);
            defaults.flush();
            onDisk = defaults.keys();
            QCOMPARE(UserDefaults(filePath()).keys(), onDisk);
        }
        defaults.flush();
        QTEST(defaults.fileWrites(), "writes");
    }

    void keepsValuesOfUnreadTypes_data() {
        QTest::addColumn<NodeMaker>("makeNode");
        QTest::addColumn<QVariant>("readable");

        QTest::newRow("date") << NodeMaker([] { return plist_new_date(700'000'000, 250'000); }) << QVariant();
        QTest::newRow("uid in a dictionary") << NodeMaker([] {
            plist_t dict = plist_new_dict();
            plist_dict_set_item(dict, "name", plist_new_string("x"));
            plist_dict_set_item(dict, "ref", plist_new_uid(3));
            return dict;
        }) << QVariant(QVariantMap{{QStringLiteral("name"), QStringLiteral("x")}});
    }

    // Another program (or a later version of ours) may store types we do not read: a save must
    // write them back exactly, until the key itself is set.
    void keepsValuesOfUnreadTypes() {
        QFETCH(NodeMaker, makeNode);
        QFETCH(QVariant, readable);
        const PlistPtr original(makeNode());
        {
            const PlistPtr root(plist_new_dict());
            plist_dict_set_item(root.get(), "kept", plist_copy(original.get()));
            char* bytes = nullptr;
            uint32_t length = 0;
            plist_to_bin(root.get(), &bytes, &length);
            QVERIFY(writeTestFile(filePath(), QByteArray(bytes, length)));
            plist_to_bin_free(bytes);
        }
        {
            UserDefaults defaults(filePath());
            QCOMPARE(defaults.object(QStringLiteral("kept")).value_or(QVariant()), readable);
            QCOMPARE(defaults.keys(), QStringList{QStringLiteral("kept")});
            defaults.set(QStringLiteral("other"), true);
            defaults.flush();
        }
        const QByteArray saved = fileContents(filePath());
        plist_t reread = nullptr;
        plist_from_memory(saved.constData(), uint32_t(saved.size()), &reread);
        const PlistPtr rereadOwner(reread);
        QVERIFY(reread);
        QCOMPARE(xmlOf(plist_dict_get_item(reread, "kept")), xmlOf(original.get()));
        QVERIFY(plist_dict_get_item(reread, "other"));

        {
            UserDefaults defaults(filePath());
            defaults.set(QStringLiteral("kept"), QStringLiteral("replaced"));
        }
        QCOMPARE(UserDefaults(filePath()).stringForKey(QStringLiteral("kept")), QStringLiteral("replaced"));
    }

    void readsDamagedText_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");

        const QString replacement(QChar::ReplacementCharacter);
        QTest::newRow("U+0000 in a value")
            << binaryPlist({oneEntry(), asciiString("name"), utf16String(QStringLiteral("K\0\u00fc"))})
            << QStringLiteral("name")
            << QVariant(QStringLiteral("K") + replacement + QStringLiteral("\u00fc"));
        const QByteArray date = QByteArray(1, char(0x33)) + QByteArray(8, '\0');
        QTest::newRow("broken UTF-8 beside a date")
            << binaryPlist({oneEntry(), asciiString("history"), char(0xA2) + twoBytes(3) + twoBytes(4), date,
                            asciiString("\xF0")})
            << QStringLiteral("history") << QVariant(QVariantList{replacement});
        QVariant nested = QVariantList();
        for (int level = 1; level < 200; ++level)
            nested = QVariantList{nested};
        QTest::newRow("nested as deeply as allowed")
            << binaryPlist(nestedArrays(200)) << QStringLiteral("deep") << nested;
        // A key held twice is the later one's: here a date, kept unread, so the key reads as absent.
        QTest::newRow("key twice, the later one unread")
            << binaryPlist({char(0xD2) + twoBytes(1) + twoBytes(1) + twoBytes(2) + twoBytes(3),
                            asciiString("k"), asciiString("x"), date})
            << QStringLiteral("k") << QVariant();
    }

    // Text that libplist would abort on or write back unreadably, and nesting that would overflow
    // its stack, must cost neither the app nor the rest of the file; a save writes a file that
    // reads again.
    void readsDamagedText() {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QVERIFY(writeTestFile(filePath(), content));
        for (const bool saved : {false, true}) {
            const QStringList keys = saved ? QStringList{key, QStringLiteral("other")} : QStringList{key};
            UserDefaults defaults(filePath());
            QCOMPARE(defaults.keys(), keys);
            QCOMPARE(defaults.object(key).value_or(QVariant()), value);
            defaults.set(QStringLiteral("other"), true);
            defaults.flush();
        }
    }

    void refusesUnstorableTypes() {
        UserDefaults defaults(filePath());
        defaults.set(QStringLiteral("kept"), QStringLiteral("old"));
        LogCapture capture;
        defaults.set(QStringLiteral("kept"), QDateTime::currentDateTimeUtc());
        defaults.set(QStringLiteral("list"), QVariantList{1, QDateTime::currentDateTimeUtc()});
        QCOMPARE(capture.messages(platformCategory()).size(), 2);
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
        defaults.flush();
        const UserDefaults reloaded(filePath());
        QCOMPARE(reloaded.keys().size(), 100);
        QCOMPARE(reloaded.integerForKey(QStringLiteral("k3-24")), 24);
    }

    void twoStoresOnOneFile_data() {
        QTest::addColumn<QVariantMap>("before");
        QTest::addColumn<QVariantMap>("second"); // written first, while the first store runs
        QTest::addColumn<QVariantMap>("first");  // written next, by a store loaded before it
        QTest::addColumn<QVariantMap>("after");
        const QVariant removed;
        QTest::newRow("a setting changed in one survives the other's write")
            << QVariantMap{{"enableThumbnails", true}} << QVariantMap{{"enableThumbnails", false}}
            << QVariantMap{{"OrvantaRecentPaths", QVariantList{QStringLiteral("file:///tmp")}}}
            << QVariantMap{{"enableThumbnails", false},
                           {"OrvantaRecentPaths", QVariantList{QStringLiteral("file:///tmp")}}};
        QTest::newRow("a key reset in one stays removed")
            << QVariantMap{{"chunkSize", qint64(16 << 20)}, {"verifyTransfers", true}}
            << QVariantMap{{"chunkSize", removed}} << QVariantMap{{"verifyTransfers", false}}
            << QVariantMap{{"verifyTransfers", false}};
        QTest::newRow("the later change of one key wins")
            << QVariantMap{} << QVariantMap{{"chunkSize", qint64(1)}, {"showHiddenFiles", true}}
            << QVariantMap{{"chunkSize", qint64(2)}}
            << QVariantMap{{"chunkSize", qint64(2)}, {"showHiddenFiles", true}};
    }

    // Two instances of the program each hold the one settings file: each writes only what it
    // changed onto what the file holds then, and each takes in what the other wrote.
    void twoStoresOnOneFile() {
        QFETCH(QVariantMap, before);
        QFETCH(QVariantMap, second);
        QFETCH(QVariantMap, first);
        QFETCH(QVariantMap, after);
        {
            UserDefaults initial(filePath());
            change(initial, before);
        }
        UserDefaults firstStore(filePath());
        UserDefaults secondStore(filePath());
        change(secondStore, second);
        secondStore.flush();
        change(firstStore, first);
        firstStore.flush();
        QCOMPARE(contentsOf(UserDefaults(filePath())), after);
        QTRY_COMPARE(contentsOf(firstStore), after);
        QTRY_COMPARE(contentsOf(secondStore), after);
    }

    void observersHearEveryChange_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("set here") << "set";
        QTest::newRow("removed here") << "remove";
        QTest::newRow("set by another instance") << "other";
    }

    // On the main thread, after the change took effect; an ended subscription hears nothing.
    void observersHearEveryChange() {
        QFETCH(QString, how);
        const QString key = QStringLiteral("enableThumbnails");
        UserDefaults defaults(filePath());
        defaults.set(key, true);
        defaults.flush();
        QList<QSet<QString>> heard;
        QList<QSet<QString>> heardByEnded;
        std::optional<QVariant> valueHeard;
        Subscription subscription = defaults.observe([&](const QSet<QString>& keys) {
            QVERIFY(QThread::currentThread() == QCoreApplication::instance()->thread());
            heard.append(keys);
            valueHeard = defaults.object(key);
        });
        Subscription ended = defaults.observe([&](const QSet<QString>& keys) { heardByEnded.append(keys); });
        ended.cancel();
        if (how == u"set") {
            defaults.set(key, false);
        } else if (how == u"remove") {
            defaults.remove(key);
        } else {
            UserDefaults other(filePath());
            other.set(key, false);
        }
        QTRY_COMPARE(heard, (QList<QSet<QString>>{{key}}));
        QCOMPARE(valueHeard, how == u"remove" ? std::optional<QVariant>() : std::optional<QVariant>(false));
        QVERIFY(heardByEnded.isEmpty());
    }

    // A file another program damaged while the store runs is moved aside at the next write, not
    // overwritten, and the write keeps everything the store holds.
    void fileDamagedWhileRunningIsSetAside() {
        UserDefaults defaults(filePath());
        defaults.set(QStringLiteral("before"), true);
        defaults.flush();
        const QByteArray damaged("\x01\x02not a plist at all");
        QVERIFY(writeTestFile(filePath(), damaged));
        LogCapture capture;
        defaults.set(QStringLiteral("after"), true);
        defaults.flush();
        QCOMPARE(fileContents(filePath() + QStringLiteral(".unreadable")), damaged);
        QCOMPARE(UserDefaults(filePath()).keys(), (QStringList{"after", "before"}));
        QCOMPARE(capture.messages(platformCategory()).size(), 1);
    }

    // The same with two real processes changing keys at the same time, each writing every change
    // at once: none is lost, and each process sees the other's.
    void twoProcessesShareOneFile() {
        UserDefaults defaults(filePath());
        defaults.set(QStringLiteral("hasCompletedFirstRun"), true);
        defaults.flush();

        QProcess other;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(otherInstanceVariable), filePath());
        other.setProcessEnvironment(environment);
        other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        other.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(other.waitForStarted());
        // Bounded only so that a broken child cannot hang the test; the lines are the
        // synchronisation.
        const auto nextLine = [&other] {
            while (!other.canReadLine() && other.state() == QProcess::Running)
                other.waitForReadyRead(30000);
            return QString::fromLocal8Bit(other.readLine()).trimmed();
        };
        QCOMPARE(nextLine(), QStringLiteral("ready"));
        other.write("go\n");
        QVERIFY(other.waitForBytesWritten(30000));
        for (int i = 0; i < keysEach; ++i) {
            defaults.set(keyOf("test", i), i + 1);
            defaults.flush();
        }
        QCOMPARE(nextLine(), QStringLiteral("seen"));
        QVERIFY(other.waitForFinished(30000));
        QCOMPARE(other.exitCode(), 0);

        const UserDefaults onDisk(filePath());
        QVERIFY(holdsAll(onDisk, "test"));
        QVERIFY(holdsAll(onDisk, "other"));
        QVERIFY(onDisk.boolForKey(QStringLiteral("hasCompletedFirstRun")));
        QTRY_VERIFY(holdsAll(defaults, "other"));
    }

private:
    QString filePath() const { return m_dir->filePath(QStringLiteral("defaults.plist")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

#define main testMain
QTEST_GUILESS_MAIN(tst_UserDefaults)
#undef main

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(otherInstanceVariable))
        return runOtherInstance(argc, argv);
    return testMain(argc, argv);
}

#include "tst_UserDefaults.moc"
