#include "device/LeftoverJournal.h"
#include "platform/async/RunSync.h"
#include "transfer/LocalLeftovers.h"

#include "LoopDisk.h"
#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <memory>
#include <unistd.h>

using Side = TransferTestCase::Side;
using async::runSync;

namespace {

// The data folder (and so the journal of leftovers) somewhere else for as long as it lives.
class DataHome {
public:
    explicit DataHome(const QString& folder) : m_saved(qgetenv("XDG_DATA_HOME")) {
        qputenv("XDG_DATA_HOME", folder.toUtf8());
    }
    ~DataHome() { qputenv("XDG_DATA_HOME", m_saved); }

private:
    QByteArray m_saved;
};

} // namespace

// Moves and replacements on real file systems mounted from images: what a power cut right after
// "done" leaves, and a disk that folds case.
class tst_RealDisks : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init();
    void cleanup();

    void aMoveSurvivesAPowerCut_data();
    void aMoveSurvivesAPowerCut();
    void aReplaceSurvivesAPowerCut_data();
    void aReplaceSurvivesAPowerCut();
    void aNewFolderOnTheDeviceIsRecordedDurably();
    void namesDifferingInCaseOnAStickThatFoldsCase();

private:
    // A disk of the kind mounted in the scratch folder, or a skip with the reason.
    bool mountDisk(LoopDisk::Kind kind);

    std::unique_ptr<LoopDisk> m_disk;
};

void tst_RealDisks::init() {
    setUpTransfers();
}

void tst_RealDisks::cleanup() {
    m_disk.reset();
    tearDownTransfers();
}

bool tst_RealDisks::mountDisk(LoopDisk::Kind kind) {
    m_disk = std::make_unique<LoopDisk>(scratchPath(QStringLiteral("image")), kind);
    if (!m_disk->isMounted())
        qWarning("No disk image could be mounted (%s)", qPrintable(m_disk->failure()));
    return m_disk->isMounted();
}

void tst_RealDisks::aMoveSurvivesAPowerCut_data() {
    QTest::addColumn<Side>("from");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("a photo from the device")
        << Side::device << "IMG_0001.JPG" << QStringList{"IMG_0001.JPG=photo"};
    QTest::newRow("a folder from the device") << Side::device << "Trip"
                                              << QStringList{"Trip/", "Trip/a.jpg=first", "Trip/b.mov=second",
                                                             "Trip/Day 2/", "Trip/Day 2/c.jpg=third"};
    QTest::newRow("a file from another disk") << Side::mac << "report.pdf" << QStringList{"report.pdf=pages"};
}

// The power goes right after the move said it was done: whatever the move deleted is on the
// destination disk.
void tst_RealDisks::aMoveSurvivesAPowerCut() {
    QFETCH(Side, from);
    QFETCH(QString, name);
    QFETCH(QStringList, expected);
    if (!mountDisk(LoopDisk::Kind::ext4))
        QSKIP("needs root and a loop-mounted ext4 image");
    const QString source = root(from) + QStringLiteral("/src");
    for (const QString& line : expected) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0)
            QVERIFY(writeTestFile(source + u'/' + line.left(equals), line.mid(equals + 1).toUtf8()));
    }
    const QString destination = m_disk->path() + QStringLiteral("/dst");
    QVERIFY(QDir().mkpath(destination));
    ::sync(); // the folder itself is on the disk before the move
    expected.sort();

    runSync(m_manager->moveItems({item(from, QStringLiteral("/src/") + name)}, URL::fileURL(destination)));
    QVERIFY(!QFileInfo::exists(source + u'/' + name));
    QVERIFY2(m_disk->cutPower(), qPrintable(m_disk->failure()));

    QCOMPARE(itemsIn(destination), expected);
}

void tst_RealDisks::aReplaceSurvivesAPowerCut_data() {
    QTest::addColumn<Side>("to");
    QTest::newRow("a device file onto a file of the disk") << Side::mac;
    QTest::newRow("a file of the disk onto a device file") << Side::device;
}

// The power goes right after a Replace said it was done: the new item has the name, and the
// next start (or the device's next session) leaves nothing set aside.
void tst_RealDisks::aReplaceSurvivesAPowerCut() {
    QFETCH(Side, to);
    if (!mountDisk(LoopDisk::Kind::ext4))
        QSKIP("needs root and a loop-mounted ext4 image");
    const QString onDisk = m_disk->path() + QStringLiteral("/files");
    // The copy's other side: the device, or the disk that holds the journal of leftovers.
    const QString source = to == Side::mac ? m_media + QStringLiteral("/src") : onDisk;
    const QString destination = to == Side::mac ? onDisk : m_media + QStringLiteral("/dst");
    QVERIFY(writeTestFile(source + QStringLiteral("/Notes.txt"), "new"));
    QVERIFY(writeTestFile(destination + QStringLiteral("/Notes.txt"), "old"));
    const QString data = m_disk->path() + QStringLiteral("/data");
    const QString journalFile = data + QStringLiteral("/Orvanta/Leftovers.jsonl");
    ::sync();
    m_prompter->answers = {answer(ConflictResolution::replace)};

    {
        const DataHome home(data);
        const URL from = to == Side::mac ? location(Side::device, QStringLiteral("/src/Notes.txt"))
                                         : URL::fileURL(source + QStringLiteral("/Notes.txt"));
        const FileItem chosen(from.absoluteString(), QStringLiteral("Notes.txt"), from, false, 3, Date::now(),
                              FileKind::other, std::nullopt);
        const URL into =
            to == Side::mac ? URL::fileURL(destination) : location(Side::device, QStringLiteral("/dst"));
        QCOMPARE(transfer({chosen}, into).state, TransferState::completed);
    }
    QVERIFY2(m_disk->cutPower(), qPrintable(m_disk->failure()));

    auto journal = std::make_shared<LeftoverJournal>(journalFile);
    if (to == Side::mac) {
        LocalLeftovers::recover(*journal);
    } else {
        AFCBridge restarted(journal);
        runSync(restarted.connect(udid));
    }
    QCOMPARE(journal->leftovers(QString()), QList<LeftoverJournal::Entry>());
    QCOMPARE(journal->leftovers(udid), QList<LeftoverJournal::Entry>());
    QCOMPARE(itemsIn(destination), QStringList{"Notes.txt=new"});
}

// A folder made on the device holds its staging folder of partial copies: a power cut of this
// computer must not lose the only record of it.
void tst_RealDisks::aNewFolderOnTheDeviceIsRecordedDurably() {
    if (!mountDisk(LoopDisk::Kind::ext4))
        QSKIP("needs root and a loop-mounted ext4 image");
    const QString file = m_disk->path() + QStringLiteral("/data/Leftovers.jsonl");
    const LeftoverJournal::Entry entry{LeftoverJournal::Kind::newFolder, udid, QString(),
                                       QStringLiteral("/DCIM/Trip"), QString()};
    QVERIFY(LeftoverJournal(file).begin(entry));
    QVERIFY2(m_disk->cutPower(), qPrintable(m_disk->failure()));

    QCOMPARE(LeftoverJournal(file).leftovers(udid), QList<LeftoverJournal::Entry>{entry});
}

// On an exFAT stick "a.jpg" and "A.jpg" are one name: the second meets the first's copy, which the
// transfer made and must not replace; both arrive, and the move deletes only what it copied.
void tst_RealDisks::namesDifferingInCaseOnAStickThatFoldsCase() {
    if (!mountDisk(LoopDisk::Kind::exfat))
        QSKIP("needs root, mkfs.exfat and a loop-mounted exFAT image");
    QVERIFY(writeTestFile(m_media + QStringLiteral("/DCIM/Pair/a.jpg"), "lower"));
    QVERIFY(writeTestFile(m_media + QStringLiteral("/DCIM/Pair/A.jpg"), "upper"));
    m_prompter->answers = {answer(ConflictResolution::replace, true)};

    runSync(m_manager->moveItems({item(Side::device, QStringLiteral("/DCIM/Pair"))},
                                 URL::fileURL(m_disk->path())));

    QStringList arrived;
    for (const QString& line : itemsIn(m_disk->path() + QStringLiteral("/Pair")))
        arrived << line.mid(line.indexOf(u'=') + 1);
    arrived.sort();
    QCOMPARE(arrived, (QStringList{"lower", "upper"}));
    QVERIFY(!QFileInfo::exists(m_media + QStringLiteral("/DCIM/Pair")));
}

ORVANTA_DEVICE_TEST_MAIN(tst_RealDisks)
#include "tst_RealDisks.moc"
