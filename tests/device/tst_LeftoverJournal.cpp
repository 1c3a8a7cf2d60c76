#include "device/LeftoverJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using Entry = LeftoverJournal::Entry;
using Kind = LeftoverJournal::Kind;

class tst_LeftoverJournal : public QObject {
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void runningCopiesAreNotLeftoversUntilReleased();
    void entriesOutliveTheProcess();
    void unreadableEntriesCostOnlyThemselves();
    void theLogStaysShort_data();
    void theLogStaysShort();
    void oneJournalPerFile();
    void aSecondInstanceNeverTakesALiveOnesEntries();
    void theRecordOfAReplacementOutlivesTheProcess();
    void theFileSystemOfAFolderHereIsRecorded();
    void onlyTheRecordedFolderProvesAnOutcome_data();
    void onlyTheRecordedFolderProvesAnOutcome();

private:
    QString file() const { return m_dir->filePath(QStringLiteral("data/Orvanta/Leftovers.json")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

const Entry partial{Kind::partialCopy, QStringLiteral("UDID1"), QString(), QStringLiteral("/DCIM/.orvanta-partial-00000000000000a1"),
                    QString()};
const Entry aside{Kind::asideItem, QStringLiteral("UDID1"), QStringLiteral("com.x.app"),
                  QStringLiteral("/Documents/.orvanta-aside-00000000000000a1"), QStringLiteral("/Documents/Thing")};
const Entry local{Kind::asideItem, QString(), QString(), QStringLiteral("/home/u/.orvanta-aside-00000000000000a2"),
                  QStringLiteral("/home/u/Thing")};

} // namespace

// What identifies the file system of an item's folder on this computer is written down with its
// entry and read back whole (64-bit ids included); a line written before it was recorded reads as
// unknown.
void tst_LeftoverJournal::theFileSystemOfAFolderHereIsRecorded() {
    const QString folder = m_dir->filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(folder));
    const Entry here{Kind::asideItem, QString(), QString(),
                     folder + QStringLiteral("/.orvanta-aside-00000000000000a3"),
                     folder + QStringLiteral("/Thing")};
    Entry far = local;
    far.folderFileSystem = {0xfd01, 0xfedcba9876543210};
    {
        LeftoverJournal crashed(file());
        QVERIFY(crashed.begin(here));
        QVERIFY(crashed.begin(far));
        QVERIFY(crashed.begin(partial));
    }
    const QList<Entry> read = LeftoverJournal(file()).entries();
    QCOMPARE(read, (QList<Entry>{here, far, partial}));
    const LeftoverJournal::FileSystem recorded = read.at(0).folderFileSystem;
    QVERIFY(recorded.isKnown());
    QVERIFY(recorded.matches(LeftoverJournal::fileSystemOf(folder)));
    QCOMPARE(read.at(1).folderFileSystem.device, quint64(0xfd01));
    QCOMPARE(read.at(1).folderFileSystem.id, quint64(0xfedcba9876543210));
    QVERIFY(!read.at(2).folderFileSystem.isKnown());
    QVERIFY(
        !LeftoverJournal::parse(
             R"({"kind":"aside","path":"/home/u/.orvanta-aside-00000000000000a2","originalPath":"/home/u/Thing"})")
             .front()
             .folderFileSystem.isKnown());
}

void tst_LeftoverJournal::onlyTheRecordedFolderProvesAnOutcome_data() {
    QTest::addColumn<QString>("change"); // what differs from the entry as it was written down
    QTest::addColumn<bool>("recorded");
    QTest::newRow("nothing") << "" << true;
    QTest::newRow("another folder of the same file system") << "folder" << false;
    QTest::newRow("another file system id under the same device number") << "id" << false;
    QTest::newRow("another device number with the same file system id") << "device" << false;
    QTest::newRow("written before the folder itself was recorded") << "no inode" << false;
    QTest::newRow("written before anything of its folder was recorded") << "nothing recorded" << false;
}

// Whether the folder an entry's item was in is the one there now: only the same folder of the same
// file system by both marks proves it, read back from the journal as written; an entry that
// recorded less proves nothing.
void tst_LeftoverJournal::onlyTheRecordedFolderProvesAnOutcome() {
    QFETCH(QString, change);
    QFETCH(bool, recorded);
    const QString folder = m_dir->filePath(QStringLiteral("disk"));
    const QString sibling = m_dir->filePath(QStringLiteral("other"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QDir().mkpath(sibling));
    const Entry here{Kind::asideItem, QString(), QString(),
                     folder + QStringLiteral("/.orvanta-aside-00000000000000a3"),
                     folder + QStringLiteral("/Thing")};
    {
        LeftoverJournal crashed(file());
        QVERIFY(crashed.begin(here));
    }
    Entry read = LeftoverJournal(file()).entries().value(0);
    QCOMPARE(read, here);
    QString looked = folder;
    if (change == u"folder")
        looked = sibling;
    else if (change == u"id")
        read.folderFileSystem.id ^= 1;
    else if (change == u"device")
        read.folderFileSystem.device ^= 1;
    else if (change == u"no inode")
        read.folderInode = 0;
    else if (change == u"nothing recorded")
        read = LeftoverJournal::parse(
                   QJsonDocument(QJsonObject{{QStringLiteral("kind"), QStringLiteral("aside")},
                                             {QStringLiteral("path"), here.path},
                                             {QStringLiteral("originalPath"), here.originalPath}})
                       .toJson(QJsonDocument::Compact))
                   .value(0);

    QCOMPARE(LeftoverJournal::isRecordedFolder(looked, read), recorded);
}

void tst_LeftoverJournal::runningCopiesAreNotLeftoversUntilReleased() {
    LeftoverJournal journal(file());
    QVERIFY(journal.begin(partial));
    QVERIFY(journal.begin(aside));
    QVERIFY(journal.leftovers(QStringLiteral("UDID1")).isEmpty());
    // A lost device leaves the partial file behind: the next session's to remove.
    journal.released(partial);
    QCOMPARE(journal.leftovers(QStringLiteral("UDID1")), QList<Entry>{partial});
    QVERIFY(journal.leftovers(QStringLiteral("UDID1"), QStringLiteral("com.x.app")).isEmpty());
    journal.finished(partial);
    journal.finished(aside);
    QVERIFY(journal.entries().isEmpty());
}

void tst_LeftoverJournal::entriesOutliveTheProcess() {
    {
        LeftoverJournal crashed(file());
        QVERIFY(crashed.begin(partial));
        QVERIFY(crashed.begin(aside));
        QVERIFY(crashed.begin(local));
        crashed.finished(partial);
    }
    {
        LeftoverJournal next(file());
        QCOMPARE(next.leftovers(QStringLiteral("UDID1"), QStringLiteral("com.x.app")), QList<Entry>{aside});
        QCOMPARE(next.leftovers(QString()), QList<Entry>{local});
        next.finished(local);
    }
    QCOMPARE(LeftoverJournal(file()).entries(), QList<Entry>{aside});
}

void tst_LeftoverJournal::unreadableEntriesCostOnlyThemselves() {
    QVERIFY(QDir().mkpath(QFileInfo(file()).absolutePath()));
    QFile stored(file());
    QVERIFY(stored.open(QIODevice::WriteOnly));
    // Bad lines, an aside entry struck out, and a last line cut short by a crash.
    stored.write(R"(7
{"kind":"aside","path":"/x"}
{"kind":"weird","path":"/y"}
{"kind":"partial","udid":"UDID1","path":"/DCIM/.orvanta-partial-00000000000000a1"}
{"kind":"aside","udid":"UDID1","bundleID":"com.x.app","path":"/Documents/.orvanta-aside-00000000000000a1","originalPath":"/Documents/Thing"}
{"kind":"aside","udid":"UDID1","bundleID":"com.x.app","path":"/Documents/.orvanta-aside-00000000000000a1","originalPath":"/Documents/Thing","gone":true}
{"kind":"partial","udid":"UDID1","pa)");
    stored.close();
    QCOMPARE(LeftoverJournal(file()).entries(), QList<Entry>{partial});
    // Opening it wrote it anew with only what stands.
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(stored.readAll().count('\n'), 1);
    stored.close();
}

void tst_LeftoverJournal::theLogStaysShort_data() {
    QTest::addColumn<bool>("standing"); // an item set aside stands throughout
    QTest::newRow("an entry stands") << true;
    QTest::newRow("nothing stands between copies") << false;
}

// Every upload, and every single file copied onto this computer, adds a line and strikes it out:
// the log never grows long. With nothing standing between the copies it is emptied in place, not
// written anew under another name and flushed.
void tst_LeftoverJournal::theLogStaysShort() {
    QFETCH(bool, standing);
    LeftoverJournal journal(file());
    if (standing)
        QVERIFY(journal.begin(aside));
    const auto inode = [this] {
        struct stat status {};
        return ::stat(QFile::encodeName(file()).constData(), &status) == 0 ? status.st_ino : ino_t(0);
    };
    ino_t first = 0;
    for (int i = 0; i < 2000; ++i) {
        const Entry copy{Kind::partialCopy, QStringLiteral("UDID1"), QString(),
                         QStringLiteral("/DCIM/.orvanta-partial-%1").arg(i, 16, 16, QLatin1Char('0')), QString()};
        QVERIFY(journal.begin(copy));
        if (i == 0)
            first = inode();
        journal.finished(copy);
    }
    QFile stored(file());
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QVERIFY(stored.size() < 100 * 1024);
    QCOMPARE(LeftoverJournal::parse(stored.readAll()), standing ? QList<Entry>{aside} : QList<Entry>());
    if (!standing)
        QCOMPARE(inode(), first);
}

void tst_LeftoverJournal::oneJournalPerFile() {
    const auto first = LeftoverJournal::shared(file());
    QVERIFY(first->begin(partial));
    // A second bridge in the same process must not take the first one's running copy for a
    // leftover.
    const auto second = LeftoverJournal::shared(file());
    QCOMPARE(second.get(), first.get());
    QVERIFY(second->leftovers(QStringLiteral("UDID1")).isEmpty());
    first->finished(partial);
}

// Two instances of the program share the data folder: each owns its entries while it runs, and
// the other takes them over only once it has ended.
void tst_LeftoverJournal::aSecondInstanceNeverTakesALiveOnesEntries() {
    auto first = std::make_unique<LeftoverJournal>(file());
    QVERIFY(first->begin(aside));
    // Left over for the first itself (its device went away), never for the second.
    first->released(aside);
    const QString firstFile = first->ownFile();

    LeftoverJournal second(file());
    QVERIFY(second.ownFile() != firstFile);
    QVERIFY(second.leftovers(QStringLiteral("UDID1"), QStringLiteral("com.x.app")).isEmpty());
    // Enough lines to make the second write its file anew: the first's entries stay where they are.
    for (int i = 0; i < 700; ++i) {
        const Entry copy{Kind::partialCopy, QStringLiteral("UDID1"), QString(),
                         QStringLiteral("/DCIM/.orvanta-partial-%1").arg(i, 16, 16, QLatin1Char('0')), QString()};
        QVERIFY(second.begin(copy));
        second.finished(copy);
    }
    QFile stored(firstFile);
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(LeftoverJournal::parse(stored.readAll()), QList<Entry>{aside});
    stored.close();

    first.reset();
    QCOMPARE(second.leftovers(QStringLiteral("UDID1"), QStringLiteral("com.x.app")), QList<Entry>{aside});
    QVERIFY(!QFileInfo::exists(firstFile));
    QCOMPARE(LeftoverJournal::parse([&] {
                 QFile own(second.ownFile());
                 return own.open(QIODevice::ReadOnly) ? own.readAll() : QByteArray();
             }()),
             QList<Entry>{aside});
}

void tst_LeftoverJournal::theRecordOfAReplacementOutlivesTheProcess() {
    {
        LeftoverJournal crashed(file());
        QVERIFY(crashed.begin(aside));
        QVERIFY(crashed.begin(local));
        QVERIFY(crashed.recordReplaced(aside));
        // Nothing to record for an entry that is not there.
        QVERIFY(!crashed.recordReplaced(partial));
    }
    LeftoverJournal next(file());
    const QList<Entry> entries = next.entries();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(entries.indexOf(aside)).replaced, true);
    QCOMPARE(entries.at(entries.indexOf(local)).replaced, false);
}

QTEST_GUILESS_MAIN(tst_LeftoverJournal)
#include "tst_LeftoverJournal.moc"
