#include "transfer/ItemCopier.h"

#include "device/LeftoverJournal.h"
#include "platform/async/Cancellation.h"
#include "platform/async/RunSync.h"
#include "services/PreferencesViewController.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferPlacement.h"

#include "EventLoop.h"
#include "RequestCount.h"
#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using async::runSync;
using Side = TransferTestCase::Side;

namespace {

constexpr qint64 mib = 1 << 20;

bool writeRawName(const QString& folder, const QByteArray& name, const QByteArray& bytes) {
    QDir().mkpath(folder);
    const QByteArray path = QFile::encodeName(folder) + '/' + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && written;
}

// The names in a folder as the file system holds them, bytes and all.
QList<QByteArray> rawNames(const QString& folder) {
    QList<QByteArray> names;
    if (DIR* dir = ::opendir(QFile::encodeName(folder).constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                names.append(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

QString messageOf(const Transfer& record) {
    return record.error ? record.error->message() : QString();
}

} // namespace

// Replacing and placing items as a transfer does: nothing the user had is lost by a copy that
// fails, changes under it, or meets a name it did not expect.
class tst_ItemCopier : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init();
    void cleanup();

    void replacementKeepsTheOldItemUntilTheCopyIsWhole_data();
    void replacementKeepsTheOldItemUntilTheCopyIsWhole();
    void sourceChangingUnderACopyLeavesTheTargetAlone_data();
    void sourceChangingUnderACopyLeavesTheTargetAlone();
    void namesThatAreNotTextAreReportedNotCopied_data();
    void namesThatAreNotTextAreReportedNotCopied();
    void chosenNameThatMayStandForAnotherFileFails_data();
    void chosenNameThatMayStandForAnotherFileFails();
    void nameTakenMeanwhileIsAskedAbout_data();
    void nameTakenMeanwhileIsAskedAbout();
    void keepBothFitsTheNameLimit_data();
    void keepBothFitsTheNameLimit();
    void readOnlyDestinationIsAWriteFailure_data();
    void readOnlyDestinationIsAWriteFailure();
    void whatTheTransferMadeIsNeverReplaced();
    void stopEndsAMove_data();
    void stopEndsAMove();
    void applyToAllHoldsForTheWholeMove();
    void cancelledTransferReportsWhatArrived();

private:
    std::shared_ptr<LeftoverJournal> m_journal;
};

void tst_ItemCopier::init() {
    setUpTransfers();
    // The journal of this test's data folder, which the copies share.
    m_journal = LeftoverJournal::shared();
}

void tst_ItemCopier::cleanup() {
    TransferPlacement::setStepHookForTesting({});
    // Whatever a test did, nothing is left set aside or half made.
    QVERIFY2(m_journal->entries().isEmpty(), "the journal of leftovers is not empty");
    tearDownTransfers();
}

void tst_ItemCopier::replacementKeepsTheOldItemUntilTheCopyIsWhole_data() {
    QTest::addColumn<Side>("from");
    QTest::addColumn<Side>("to");
    QTest::addColumn<bool>("folder");     // the source is a folder
    QTest::addColumn<bool>("ontoFolder"); // the item it replaces is one
    QTest::addColumn<QString>("fault");   // "", "read error", "device full", "cancel"
    const Side mac = Side::mac, device = Side::device;
    QTest::newRow("device file onto computer folder, read fails")
        << device << mac << false << true << "read error";
    QTest::newRow("device file onto computer file, read fails")
        << device << mac << false << false << "read error";
    QTest::newRow("device file onto device file, read fails")
        << device << device << false << false << "read error";
    QTest::newRow("computer file onto device folder, device full")
        << mac << device << false << true << "device full";
    QTest::newRow("computer folder onto device file, device full")
        << mac << device << true << false << "device full";
    QTest::newRow("computer folder onto computer file, cancelled") << mac << mac << true << false << "cancel";
    QTest::newRow("device folder onto computer file, cancelled")
        << device << mac << true << false << "cancel";
    QTest::newRow("computer folder onto computer file") << mac << mac << true << false << "";
    QTest::newRow("computer file onto device folder") << mac << device << false << true << "";
}

void tst_ItemCopier::replacementKeepsTheOldItemUntilTheCopyIsWhole() {
    QFETCH(Side, from);
    QFETCH(Side, to);
    QFETCH(bool, folder);
    QFETCH(bool, ontoFolder);
    QFETCH(QString, fault);
    const QString source = root(from) + QStringLiteral("/src/Thing");
    if (folder) {
        QVERIFY(writeTestFile(source + QStringLiteral("/a.bin"), patternBytes(3 * mib)));
        QVERIFY(writeTestFile(source + QStringLiteral("/Sub/b.txt"), "new b"));
    } else {
        QVERIFY(writeTestFile(source, patternBytes(3 * mib)));
    }
    const QString target = root(to) + QStringLiteral("/dst/Thing");
    if (ontoFolder) {
        QVERIFY(writeTestFile(target + QStringLiteral("/inner.txt"), "keep me"));
        QVERIFY(writeTestFile(target + QStringLiteral("/Sub/deep.txt"), "and me"));
    } else {
        QVERIFY(writeTestFile(target, "old content"));
    }
    const QMap<QString, QByteArray> before = contentsOf(root(to) + QStringLiteral("/dst"));
    if (fault == QLatin1String("read error"))
        m_device->faults().readErrorAt(mib);
    else if (fault == QLatin1String("device full"))
        m_device->faults().setQuota(mib);
    QUuid id;
    QList<LeftoverJournal::Entry> written;
    TransferPlacement::setStepHookForTesting([&](const QString& step, const URL&) {
        if (step != QLatin1String("aside"))
            return;
        written = m_journal->entries();
        if (fault == QLatin1String("cancel"))
            m_manager->cancelTransfer(id);
    });
    m_prompter->answers = {answer(ConflictResolution::replace)};

    id = launched({item(from, QStringLiteral("/src/Thing"))}, location(to, QStringLiteral("/dst"))).id;
    const Transfer done = finished(id);

    // The old item was written down, with its device, before it was renamed aside.
    QCOMPARE(written.size(), 1);
    QCOMPARE(written.front().kind, LeftoverJournal::Kind::asideItem);
    QCOMPARE(written.front().udid, to == Side::device ? udid : QString());
    QVERIFY(written.front().originalPath.endsWith(QStringLiteral("/dst/Thing")));
    if (fault.isEmpty()) {
        QCOMPARE(done.state, TransferState::completed);
        QCOMPARE(contentsOf(target), contentsOf(source));
        QCOMPARE(QFileInfo(target).isDir(), folder);
        // The report names the files where they are, not where a folder was built.
        for (const TransferReportEntry& entry : done.reportEntries)
            QVERIFY2(!entry.destinationURL().absoluteString().contains(QStringLiteral(".orvanta")),
                     qPrintable(entry.destinationURL().absoluteString()));
        QCOMPARE(done.reportEntries.size(), folder ? 2 : 1);
    } else {
        QCOMPARE(done.state,
                 fault == QLatin1String("cancel") ? TransferState::cancelled : TransferState::failed);
        // The old item and all it held are back, and nothing half made is left.
        QCOMPARE(contentsOf(root(to) + QStringLiteral("/dst")), before);
        QCOMPARE(QFileInfo(target).isDir(), ontoFolder);
    }
    QCOMPARE(QDir(root(to) + QStringLiteral("/dst"))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("Thing")});
}

void tst_ItemCopier::sourceChangingUnderACopyLeavesTheTargetAlone_data() {
    QTest::addColumn<bool>("upload");
    QTest::addColumn<bool>("grows");
    QTest::addColumn<bool>("replacing");
    for (const bool upload : {false, true}) {
        for (const bool grows : {false, true}) {
            for (const bool replacing : {false, true}) {
                QTest::addRow("%s, source %s, %s", upload ? "upload" : "download",
                              grows ? "grows" : "shrinks", replacing ? "replacing a file" : "to a new name")
                    << upload << grows << replacing;
            }
        }
    }
}

void tst_ItemCopier::sourceChangingUnderACopyLeavesTheTargetAlone() {
    QFETCH(bool, upload);
    QFETCH(bool, grows);
    QFETCH(bool, replacing);
    const Side from = upload ? Side::mac : Side::device;
    const Side to = upload ? Side::device : Side::mac;
    const QString source = root(from) + QStringLiteral("/src/big.bin");
    QVERIFY(writeTestFile(source, patternBytes(4 * mib)));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));
    if (replacing)
        QVERIFY(writeTestFile(root(to) + QStringLiteral("/dst/big.bin"), "old"));
    const QStringList before = treeOf(root(to) + QStringLiteral("/dst"));
    m_prompter->answers = {answer(ConflictResolution::replace)};
    if (upload)
        m_device->faults().stallWrites();
    else
        m_device->faults().gateReads(mib);

    const Transfer started =
        launched({item(from, QStringLiteral("/src/big.bin"))}, location(to, QStringLiteral("/dst")));
    QVERIFY(upload ? writeStalled() : readHeld());
    QFile file(source);
    QVERIFY(file.open(QIODevice::ReadWrite));
    // Growing by far more than the copy takes in: it must stop at the size it measured.
    QVERIFY(grows ? file.seek(file.size()) && file.write(patternBytes(64 * mib)) == 64 * mib
                  : file.resize(100));
    file.close();
    if (upload)
        m_device->faults().releaseWrites();
    else
        m_device->faults().releaseReads();
    const Transfer done = finished(started.id);

    QCOMPARE(done.state, TransferState::failed);
    QVERIFY2(messageOf(done).contains(QStringLiteral("size changed")), qPrintable(messageOf(done)));
    QVERIFY(done.reportEntries.isEmpty());
    QCOMPARE(treeOf(root(to) + QStringLiteral("/dst")), before);
    if (replacing)
        QCOMPARE(fileContents(root(to) + QStringLiteral("/dst/big.bin")), QByteArray("old"));
    if (!upload)
        QVERIFY(countAfcRequests("FILE_READ") <= 6);
}

void tst_ItemCopier::namesThatAreNotTextAreReportedNotCopied_data() {
    QTest::addColumn<Side>("to");
    QTest::addColumn<bool>("move");
    QTest::newRow("copy to the computer") << Side::mac << false;
    QTest::newRow("copy to a device") << Side::device << false;
    QTest::newRow("move to a device") << Side::device << true;
}

void tst_ItemCopier::namesThatAreNotTextAreReportedNotCopied() {
    QFETCH(Side, to);
    QFETCH(bool, move);
    // "x" and a byte that is no UTF-8, beside "x" and the character that stands for such bytes.
    const QString folder = m_mac + QStringLiteral("/src/Set");
    QVERIFY(writeRawName(folder, QByteArray("x\xff"), "raw name"));
    const QString replacement = QStringLiteral("x") + QChar(0xFFFD);
    QVERIFY(writeTestFile(folder + QLatin1Char('/') + replacement, "real name"));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));

    if (move) {
        QVERIFY_THROWS_EXCEPTION(TransferError,
                                 runSync(m_manager->moveItems({item(Side::mac, QStringLiteral("/src/Set"))},
                                                              location(to, QStringLiteral("/dst")))));
    }
    const Transfer done =
        move ? m_manager->completedTransfers.value().front()
             : transfer({item(Side::mac, QStringLiteral("/src/Set"))}, location(to, QStringLiteral("/dst")));

    QCOMPARE(done.state, TransferState::failed);
    QCOMPARE(done.reportEntries.size(), 2);
    int failedLines = 0;
    for (const TransferReportEntry& entry : done.reportEntries) {
        if (entry.verificationOutcome() != TransferVerificationOutcome::failed)
            continue;
        ++failedLines;
        QVERIFY(entry.verificationDetail()->contains(QStringLiteral("name is not valid text")));
    }
    QCOMPARE(failedLines, 1);
    QCOMPARE(contentsOf(root(to) + QStringLiteral("/dst/Set")),
             (QMap<QString, QByteArray>{{replacement, "real name"}}));
    if (to == Side::mac)
        QCOMPARE(rawNames(root(to) + QStringLiteral("/dst/Set")), QList<QByteArray>{replacement.toUtf8()});
    // Neither source went, whatever the copy did.
    QCOMPARE(rawNames(folder), (QList<QByteArray>{replacement.toUtf8(), QByteArray("x\xff")}));
    QCOMPARE(fileContents(folder + QLatin1Char('/') + replacement), QByteArray("real name"));
}

void tst_ItemCopier::chosenNameThatMayStandForAnotherFileFails_data() {
    namesThatAreNotTextAreReportedNotCopied_data();
}

// The browser shows "x\xff" as "x" + U+FFFD, the name of its neighbour: choosing it must copy
// neither file under the other's name, and a move must delete nothing.
void tst_ItemCopier::chosenNameThatMayStandForAnotherFileFails() {
    QFETCH(Side, to);
    QFETCH(bool, move);
    const QString folder = m_mac + QStringLiteral("/src");
    QVERIFY(writeRawName(folder, QByteArray("x\xff"), "raw name"));
    const QString shown = QStringLiteral("x") + QChar(0xFFFD);
    QVERIFY(writeTestFile(folder + QLatin1Char('/') + shown, "real name"));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));
    const FileItem chosen = item(Side::mac, QStringLiteral("/src/") + shown);

    if (move) {
        QVERIFY_THROWS_EXCEPTION(
            TransferError, runSync(m_manager->moveItems({chosen}, location(to, QStringLiteral("/dst")))));
    }
    const Transfer done = move ? m_manager->completedTransfers.value().front()
                               : transfer({chosen}, location(to, QStringLiteral("/dst")));
    QCOMPARE(done.state, TransferState::failed);
    QVERIFY(contentsOf(root(to) + QStringLiteral("/dst")).isEmpty());
    QCOMPARE(rawNames(folder), (QList<QByteArray>{shown.toUtf8(), QByteArray("x\xff")}));
}

void tst_ItemCopier::nameTakenMeanwhileIsAskedAbout_data() {
    QTest::addColumn<bool>("upload");
    QTest::newRow("download into a folder made just now") << false;
    QTest::newRow("upload into a folder made just now") << true;
}

// A folder made by the copy is taken as empty, and a file system that folds case finds IMG.JPG
// where img.jpg was to go: the name turns out taken only when the copy is whole. The test takes
// the name itself while the first file is held.
void tst_ItemCopier::nameTakenMeanwhileIsAskedAbout() {
    QFETCH(bool, upload);
    const Side from = upload ? Side::mac : Side::device;
    const Side to = upload ? Side::device : Side::mac;
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/Album/a.bin"), patternBytes(2 * mib)));
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/Album/b.txt"), "new b"));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));
    m_prompter->answers = {answer(ConflictResolution::keepBoth)};
    if (upload)
        m_device->faults().stallWrites();
    else
        m_device->faults().gateReads(mib);

    const Transfer started =
        launched({item(from, QStringLiteral("/src/Album"))}, location(to, QStringLiteral("/dst")));
    QVERIFY(upload ? writeStalled() : readHeld());
    QVERIFY(writeTestFile(root(to) + QStringLiteral("/dst/Album/b.txt"), "theirs"));
    if (upload)
        m_device->faults().releaseWrites();
    else
        m_device->faults().releaseReads();
    const Transfer done = finished(started.id);

    QCOMPARE(done.state, TransferState::completed);
    QCOMPARE(m_prompter->questions, QStringList{"b.txt"});
    QCOMPARE(fileContents(root(to) + QStringLiteral("/dst/Album/b.txt")), QByteArray("theirs"));
    QCOMPARE(fileContents(root(to) + QStringLiteral("/dst/Album/b copy.txt")), QByteArray("new b"));
    QCOMPARE(done.reportEntries.size(), 2);
}

void tst_ItemCopier::keepBothFitsTheNameLimit_data() {
    QTest::addColumn<Side>("to");
    QTest::addColumn<QString>("stem"); // with ".txt", 254 bytes as UTF-8
    const QString ascii(250, QLatin1Char('a'));
    const QString twoBytes(125, QChar(0xE9));
    QString fourBytes;
    for (int i = 0; i < 62; ++i)
        fourBytes += QString::fromUcs4(U"\U0001F600", 1);
    fourBytes += QStringLiteral("aa");
    for (const Side to : {Side::mac, Side::device}) {
        const char* side = to == Side::mac ? "computer" : "device";
        QTest::addRow("%s, one byte a character", side) << to << ascii;
        QTest::addRow("%s, two bytes a character", side) << to << twoBytes;
        QTest::addRow("%s, characters outside the basic plane", side) << to << fourBytes;
    }
}

void tst_ItemCopier::keepBothFitsTheNameLimit() {
    QFETCH(Side, to);
    QFETCH(QString, stem);
    const QString name = stem + QStringLiteral(".txt");
    QCOMPARE(name.toUtf8().size(), 254);
    QVERIFY(writeTestFile(root(to) + QStringLiteral("/dst/") + name, "old"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/") + name, "new"));
    m_prompter->answers = {answer(ConflictResolution::keepBoth)};

    const Transfer done =
        transfer({item(Side::mac, QStringLiteral("/src/") + name)}, location(to, QStringLiteral("/dst")));

    QCOMPARE(done.state, TransferState::completed);
    QStringList names = QDir(root(to) + QStringLiteral("/dst")).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(names.size(), 2);
    names.removeAll(name);
    const QString copy = names.front();
    QVERIFY(copy.toUtf8().size() <= 255);
    QVERIFY(copy.endsWith(QStringLiteral(" copy.txt")));
    // Shortened by whole characters only: what stays of the stem is a beginning of it.
    QVERIFY(stem.startsWith(copy.chopped(9)));
    QCOMPARE(fileContents(root(to) + QStringLiteral("/dst/") + copy), QByteArray("new"));
    QCOMPARE(fileContents(root(to) + QStringLiteral("/dst/") + name), QByteArray("old"));
}

void tst_ItemCopier::readOnlyDestinationIsAWriteFailure_data() {
    QTest::addColumn<Side>("from");
    QTest::newRow("from a device") << Side::device;
    QTest::newRow("from this computer") << Side::mac;
}

void tst_ItemCopier::readOnlyDestinationIsAWriteFailure() {
    QFETCH(Side, from);
    const QString folder = m_mac + QStringLiteral("/readonly");
    QVERIFY(QDir().mkpath(folder));
    if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", MS_RDONLY, nullptr) != 0)
        QSKIP("no read-only file system can be mounted here");
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/a.txt"), "data"));

    const Transfer done = transfer({item(from, QStringLiteral("/src/a.txt"))}, URL::fileURL(folder));
    ::umount(QFile::encodeName(folder).constData());

    QCOMPARE(done.state, TransferState::failed);
    const QString message = messageOf(done);
    QVERIFY2(message.contains(QStringLiteral("Read-only file system")), qPrintable(message));
    QVERIFY2(!message.contains(QStringLiteral("read failed"), Qt::CaseInsensitive), qPrintable(message));
}

// Keep Both for Note.md gives "Note copy.md", the very name of the next source: that one must not
// be offered to replace what this transfer has just written.
void tst_ItemCopier::whatTheTransferMadeIsNeverReplaced() {
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/dst/Note.md"), "there before"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Note.md"), "first"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Note copy.md"), "second"));
    m_prompter->answers = {answer(ConflictResolution::keepBoth), answer(ConflictResolution::replace)};

    const Transfer done = transfer({item(Side::mac, QStringLiteral("/src/Note.md")),
                                    item(Side::mac, QStringLiteral("/src/Note copy.md"))},
                                   location(Side::mac, QStringLiteral("/dst")));

    QCOMPARE(done.state, TransferState::completed);
    QCOMPARE(m_prompter->questions, QStringList{"Note.md"});
    QMap<QString, QByteArray> expected{
        {"Note.md", "there before"}, {"Note copy.md", "first"}, {"Note copy copy.md", "second"}};
    QCOMPARE(contentsOf(m_mac + QStringLiteral("/dst")), expected);
}

void tst_ItemCopier::stopEndsAMove_data() {
    QTest::addColumn<Side>("side");
    QTest::addColumn<bool>("paste");
    QTest::newRow("on this computer") << Side::mac << false;
    QTest::newRow("on a device") << Side::device << false;
    QTest::newRow("cut and paste") << Side::mac << true;
}

void tst_ItemCopier::stopEndsAMove() {
    QFETCH(Side, side);
    QFETCH(bool, paste);
    QVERIFY(writeTestFile(root(side) + QStringLiteral("/src/d.bin"), "new"));
    QVERIFY(writeTestFile(root(side) + QStringLiteral("/dst/d.bin"), "old"));
    // A second question would be answered Replace: there must be none.
    m_prompter->answers = {answer(ConflictResolution::stop), answer(ConflictResolution::replace)};
    const QList<FileItem> items{item(side, QStringLiteral("/src/d.bin"))};

    if (paste) {
        ClipboardManager clipboard(std::shared_ptr<TransferManager>(m_manager.get(), [](TransferManager*) {}),
                                   m_provider);
        clipboard.items = items;
        clipboard.mode = ClipboardManager::Mode::cut;
        runSync(clipboard.paste(location(side, QStringLiteral("/dst"))));
        QCOMPARE(clipboard.items.value(), items);
    } else {
        QVERIFY_THROWS_EXCEPTION(async::CancelledError, runSync(m_manager->moveItems(
                                                            items, location(side, QStringLiteral("/dst")))));
    }

    QCOMPARE(m_prompter->questions, QStringList{"d.bin"});
    QCOMPARE(fileContents(root(side) + QStringLiteral("/dst/d.bin")), QByteArray("old"));
    QCOMPARE(fileContents(root(side) + QStringLiteral("/src/d.bin")), QByteArray("new"));
}

// The direct road renames a.txt and then meets a folder it cannot rename onto; the copy road
// that takes over keeps the answer given for all.
void tst_ItemCopier::applyToAllHoldsForTheWholeMove() {
    for (const char* path : {"/src/a.txt", "/src/Folder/x.txt", "/dst/a.txt", "/dst/Folder/x.txt"})
        QVERIFY(writeTestFile(m_mac + QLatin1String(path), QByteArray(path)));
    m_prompter->answers = {answer(ConflictResolution::keepBoth, true)};

    runSync(m_manager->moveItems(
        {item(Side::mac, QStringLiteral("/src/a.txt")), item(Side::mac, QStringLiteral("/src/Folder"))},
        location(Side::mac, QStringLiteral("/dst"))));

    QCOMPARE(m_prompter->questions, QStringList{"a.txt"});
    const QMap<QString, QByteArray> expected{{"a.txt", "/dst/a.txt"},
                                             {"a copy.txt", "/src/a.txt"},
                                             {"Folder/x.txt", "/dst/Folder/x.txt"},
                                             {"Folder/x copy.txt", "/src/Folder/x.txt"}};
    QCOMPARE(contentsOf(m_mac + QStringLiteral("/dst")), expected);
    QCOMPARE(treeOf(m_mac + QStringLiteral("/src")), QStringList());
}

// Cancelled while its one file is being checked: the file is whole at its destination, so it is
// in the report; the record ends only then.
void tst_ItemCopier::cancelledTransferReportsWhatArrived() {
    PreferencesViewController::defaults().set(PreferencesViewController::verifyTransfersKey, true);
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/one.txt"), "one"));
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst")));
    m_manager->setBeforeVerification([this](const URL&, const URL&) {
        m_manager->cancelAllTransfers();
        QVERIFY(m_manager->completedTransfers.value().isEmpty());
    });

    QVERIFY_THROWS_EXCEPTION(async::CancelledError,
                             runSync(m_manager->moveItems({item(Side::mac, QStringLiteral("/src/one.txt"))},
                                                          location(Side::device, QStringLiteral("/dst")))));

    const Transfer done = m_manager->completedTransfers.value().front();
    QCOMPARE(done.state, TransferState::cancelled);
    QCOMPARE(done.reportEntries.size(), 1);
    QCOMPARE(done.reportEntries.front().name(), QStringLiteral("one.txt"));
    QCOMPARE(fileContents(m_media + QStringLiteral("/dst/one.txt")), QByteArray("one"));
    // A cancelled move deletes nothing.
    QCOMPARE(fileContents(m_mac + QStringLiteral("/src/one.txt")), QByteArray("one"));
}

ORVANTA_DEVICE_TEST_MAIN(tst_ItemCopier)
#include "tst_ItemCopier.moc"
