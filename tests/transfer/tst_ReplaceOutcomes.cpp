// What a Replace leaves when something goes wrong around it: another program taking the name, a
// device that goes away before it answers, a crash before the outcome is written down, a move
// that would replace the folder holding what it moves. Nothing the user had is ever lost.

#include "device/AFCLocation.h"
#include "device/LeftoverJournal.h"
#include "transfer/LocalLeftovers.h"
#include "transfer/TransferPlacement.h"

#include "EventLoop.h"
#include "RequestCount.h"
#include "TaskFailure.h"
#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using Side = TransferTestCase::Side;
using async::runSync;

class tst_ReplaceOutcomes : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init() { setUpTransfers(); }
    void cleanup();

    void aNameTakenDuringAReplaceKeepsBoth_data();
    void aNameTakenDuringAReplaceKeepsBoth();
    void anUnansweredSetAsideComesBackAtTheNextSession();
    void aCrashBeforeTheOutcomeIsRecordedKeepsBoth_data();
    void aCrashBeforeTheOutcomeIsRecordedKeepsBoth();
    void aCrashOnTheDeviceLosesNothing_data();
    void aCrashOnTheDeviceLosesNothing();
    void aNewFolderCoversThePartialCopiesInIt();
    void aMoveNeverReplacesTheFolderHoldingIt_data();
    void aMoveNeverReplacesTheFolderHoldingIt();
    void aTransferNeverReplacesItsOwnSourceNotYetTaken_data();
    void aTransferNeverReplacesItsOwnSourceNotYetTaken();
    void aMoveNeverReplacesAFolderHoldingItsNextItem_data();
    void aMoveNeverReplacesAFolderHoldingItsNextItem();
    void aCancelledFolderOnASilentDeviceIsClearedAtTheNextSession();
    void aStagingFolderThatWillNotGoStaysOutOfTheUsersFolder_data();
    void aStagingFolderThatWillNotGoStaysOutOfTheUsersFolder();
    void anItemPutBackNeverReplacesAFileWrittenMeanwhile();
};

void tst_ReplaceOutcomes::cleanup() {
    TransferPlacement::setStepHookForTesting({});
    tearDownTransfers();
}

void tst_ReplaceOutcomes::aNameTakenDuringAReplaceKeepsBoth_data() {
    QTest::addColumn<Side>("from");
    QTest::addColumn<Side>("to");
    QTest::addColumn<bool>("move");
    QTest::newRow("download") << Side::device << Side::mac << false;
    QTest::newRow("upload") << Side::mac << Side::device << false;
    QTest::newRow("on this computer") << Side::mac << Side::mac << false;
    QTest::newRow("device to device") << Side::device << Side::device << false;
    QTest::newRow("move on this computer") << Side::mac << Side::mac << true;
    QTest::newRow("move on the device") << Side::device << Side::device << true;
}

// The user answers Replace; while the copy runs, another program writes a file of that name. The
// copy fails, and the old item comes back beside that file, under a free name.
void tst_ReplaceOutcomes::aNameTakenDuringAReplaceKeepsBoth() {
    QFETCH(Side, from);
    QFETCH(Side, to);
    QFETCH(bool, move);
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/Notes.txt"), "new"));
    const QString destination = root(to) + QStringLiteral("/dst");
    QVERIFY(writeTestFile(destination + QStringLiteral("/Notes.txt"), "old"));
    TransferPlacement::setStepHookForTesting([&](const QString& step, const URL&) {
        if (step == QLatin1String("aside"))
            QVERIFY(writeTestFile(destination + QStringLiteral("/Notes.txt"), "theirs"));
    });
    m_prompter->answers = {answer(ConflictResolution::replace)};

    if (move) {
        const auto failure = failureOf<TransferError>(
            m_manager->moveItems({item(from, QStringLiteral("/src/Notes.txt"))}, location(to, QStringLiteral("/dst"))));
        Q_UNUSED(failure);
        QCOMPARE(fileContents(root(from) + QStringLiteral("/src/Notes.txt")), QByteArray("new"));
    } else {
        const Transfer done = transfer({item(from, QStringLiteral("/src/Notes.txt"))}, location(to, QStringLiteral("/dst")));
        QCOMPARE(done.state, TransferState::failed);
    }

    QCOMPARE(itemsIn(destination), (QStringList{"Notes copy.txt=old", "Notes.txt=theirs"}));
    QCOMPARE(LeftoverJournal::shared()->entries(), QList<LeftoverJournal::Entry>());
}

// The device sets the old item aside and goes away before it answers: the entry stays, and the
// next session of the device puts the item back.
void tst_ReplaceOutcomes::anUnansweredSetAsideComesBackAtTheNextSession() {
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Notes.txt"), "new"));
    const QString destination = m_media + QStringLiteral("/dst");
    QVERIFY(writeTestFile(destination + QStringLiteral("/Notes.txt"), "old"));
    m_prompter->answers = {answer(ConflictResolution::replace)};
    m_device->faults().unplugBeforeAnswering("RENAME_PATH");

    const Transfer done =
        transfer({item(Side::mac, QStringLiteral("/src/Notes.txt"))}, location(Side::device, QStringLiteral("/dst")));
    QCOMPARE(done.state, TransferState::failed);
    // The device did rename it.
    QVERIFY(!QFileInfo::exists(destination + QStringLiteral("/Notes.txt")));
    QCOMPARE(LeftoverJournal::shared()->leftovers(udid).size(), 1);

    m_device->plug();
    runSync(m_bridge->connect(udid));
    QCOMPARE(itemsIn(destination), QStringList{"Notes.txt=old"});
    QCOMPARE(LeftoverJournal::shared()->entries(), QList<LeftoverJournal::Entry>());
}

void tst_ReplaceOutcomes::aCrashBeforeTheOutcomeIsRecordedKeepsBoth_data() {
    QTest::addColumn<bool>("folder");
    QTest::newRow("file") << false;
    QTest::newRow("folder") << true;
}

// The new item has the name, but the record that it is whole never reached the journal: the
// next start cannot tell whether it is, so it keeps both.
void tst_ReplaceOutcomes::aCrashBeforeTheOutcomeIsRecordedKeepsBoth() {
    QFETCH(bool, folder);
    const QString source = m_mac + QStringLiteral("/src/Thing");
    QVERIFY(writeTestFile(folder ? source + QStringLiteral("/inside.txt") : source, "new"));
    const QString destination = m_mac + QStringLiteral("/dst");
    QVERIFY(writeTestFile(destination + QStringLiteral("/Thing"), "old"));
    const QString crashed = scratchPath(QStringLiteral("crashed"));
    const QString crashedJournal = scratchPath(QStringLiteral("journal")) + QStringLiteral("/Leftovers.jsonl");
    TransferPlacement::setStepHookForTesting([&](const QString& step, const URL&) {
        if (step != QLatin1String("named"))
            return;
        // What the disk and the journal hold at that moment.
        for (const QString& entry : QDir(destination).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            const QString from = destination + u'/' + entry;
            if (QFileInfo(from).isDir()) {
                QVERIFY(writeTestFile(crashed + u'/' + entry + QStringLiteral("/inside.txt"),
                                      fileContents(from + QStringLiteral("/inside.txt"))));
            } else {
                QVERIFY(writeTestFile(crashed + u'/' + entry, fileContents(from)));
            }
        }
        QVERIFY(QFile::copy(LeftoverJournal::shared()->ownFile(), crashedJournal));
    });
    m_prompter->answers = {answer(ConflictResolution::replace)};

    const Transfer done =
        transfer({item(Side::mac, QStringLiteral("/src/Thing"))}, location(Side::mac, QStringLiteral("/dst")));
    QCOMPARE(done.state, TransferState::completed);
    QVERIFY(QFileInfo::exists(crashedJournal));
    QVERIFY(QDir(destination).removeRecursively());
    QVERIFY(QDir().rename(crashed, destination));
    {
        LeftoverJournal journal(crashedJournal);
        LocalLeftovers::recover(journal);
        QVERIFY(journal.entries().isEmpty());
    }

    QCOMPARE(itemsIn(destination), folder ? (QStringList{"Thing copy=old", "Thing/", "Thing/inside.txt=new"})
                                          : (QStringList{"Thing copy=old", "Thing=new"}));
}

void tst_ReplaceOutcomes::aCrashOnTheDeviceLosesNothing_data() {
    QTest::addColumn<QString>("step");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("after the set-aside") << "aside" << QStringList{"Notes.txt=old"};
    QTest::newRow("new file named, not yet recorded") << "named" << QStringList{"Notes copy.txt=old", "Notes.txt=new"};
    QTest::newRow("recorded whole") << "whole" << QStringList{"Notes.txt=new"};
}

// An upload that replaces a device file, cut off at each step: the device's next session, in a
// later run, finds what the records prove.
void tst_ReplaceOutcomes::aCrashOnTheDeviceLosesNothing() {
    QFETCH(QString, step);
    QFETCH(QStringList, expected);
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Notes.txt"), "new"));
    const QString destination = m_media + QStringLiteral("/dst");
    QVERIFY(writeTestFile(destination + QStringLiteral("/Notes.txt"), "old"));
    QMap<QString, QByteArray> crashed;
    const QString crashedJournal = scratchPath(QStringLiteral("journal")) + QStringLiteral("/Leftovers.jsonl");
    TransferPlacement::setStepHookForTesting([&](const QString& at, const URL&) {
        if (at != step)
            return;
        crashed = contentsOf(destination);
        QVERIFY(QFile::copy(LeftoverJournal::shared()->ownFile(), crashedJournal));
    });
    m_prompter->answers = {answer(ConflictResolution::replace)};

    const Transfer done =
        transfer({item(Side::mac, QStringLiteral("/src/Notes.txt"))}, location(Side::device, QStringLiteral("/dst")));
    QCOMPARE(done.state, TransferState::completed);
    QVERIFY(!crashed.isEmpty());
    QVERIFY(QDir(destination).removeRecursively());
    for (auto it = crashed.cbegin(); it != crashed.cend(); ++it)
        QVERIFY(writeTestFile(destination + u'/' + it.key(), it.value()));
    {
        auto journal = std::make_shared<LeftoverJournal>(crashedJournal);
        AFCBridge restarted(journal);
        runSync(restarted.connect(udid));
        QCOMPARE(journal->entries(), QList<LeftoverJournal::Entry>());
    }

    QCOMPARE(itemsIn(destination), expected);
}

// The files of a folder the transfer made write no entry of their own: the folder's covers them.
// A device that goes away in the middle of one leaves its partial copy, which the next session
// removes, and nothing else of the folder.
void tst_ReplaceOutcomes::aNewFolderCoversThePartialCopiesInIt() {
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Album/a.txt"), "first"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Album/b.bin"), patternBytes(4 << 20)));
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst")));
    m_device->faults().unplugAfterAfcBytes(2 << 20);

    const Transfer done =
        transfer({item(Side::mac, QStringLiteral("/src/Album"))}, location(Side::device, QStringLiteral("/dst")));
    QCOMPARE(done.state, TransferState::failed);
    const QString album = m_media + QStringLiteral("/dst/Album");
    // Files copied whole before the cut, whichever the copy took first.
    for (const QString& name : {QStringLiteral("c.txt"), QStringLiteral("d.txt")})
        QVERIFY(writeTestFile(album + u'/' + name, "whole"));
    const QStringList copied = QDir(album).entryList(QDir::Files);
    const auto everything = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
    // Beside them one hidden item of the copy's own, the folder its partial copies are written in.
    QCOMPARE(QDir(album).entryList(everything).size(), copied.size() + 1);
    const QList<LeftoverJournal::Entry> left = LeftoverJournal::shared()->leftovers(udid);
    QCOMPARE(left.size(), 1);
    QCOMPARE(left.front().kind, LeftoverJournal::Kind::newFolder);

    m_device->plug();
    emulator().log().clear();
    runSync(m_bridge->connect(udid));
    QCOMPARE(QDir(album).entryList(everything), copied);
    QCOMPARE(LeftoverJournal::shared()->entries(), QList<LeftoverJournal::Entry>());
    QCOMPARE(countAfcRequests("REMOVE_PATH_AND_CONTENTS"), size_t(1));
    // The folder's names are enough to find the partial copy: the files copied whole are not
    // asked about one by one (a folder of thousands would hold up the device's first use).
    QVERIFY(copied.contains(QStringLiteral("c.txt")));
    for (const QString& name : copied)
        QCOMPARE(countAfcRequests("GET_FILE_INFO", ("/dst/Album/" + name).toStdString()), size_t(0));
}

void tst_ReplaceOutcomes::aMoveNeverReplacesTheFolderHoldingIt_data() {
    QTest::addColumn<Side>("side");
    QTest::newRow("on this computer") << Side::mac;
    QTest::newRow("on the device") << Side::device;
}

// Moving b/u/u up into b, with Replace, would replace b/u, which holds it: refused with the words
// a copy uses, before anything is renamed, and nothing else is tried.
void tst_ReplaceOutcomes::aMoveNeverReplacesTheFolderHoldingIt() {
    QFETCH(Side, side);
    const QString b = root(side) + QStringLiteral("/b");
    QVERIFY(writeTestFile(b + QStringLiteral("/u/other.txt"), "other"));
    QVERIFY(writeTestFile(b + QStringLiteral("/u/u"), "moved"));
    const QStringList before = itemsIn(b);
    m_prompter->answers = {answer(ConflictResolution::replace, true), answer(ConflictResolution::replace, true)};

    QCOMPARE(failureText<TransferError>(
                 m_manager->moveItems({item(side, QStringLiteral("/b/u/u"))}, location(side, QStringLiteral("/b")))),
             TransferError::ioError(QStringLiteral("Cannot replace \"u\" with an item inside it")).description());
    QCOMPARE(itemsIn(b), before);
}

void tst_ReplaceOutcomes::aTransferNeverReplacesItsOwnSourceNotYetTaken_data() {
    QTest::addColumn<QString>("place");
    QTest::addColumn<bool>("folderFirst");
    QTest::addColumn<bool>("move");
    QTest::addColumn<QStringList>("after"); // empty: refused, everything as it was
    const QStringList copied{"d.bin=one", "u/", "u/d.bin=two", "u/u/", "u/u/d.bin=two"};
    const QStringList moved{"d.bin=one", "u/", "u/d.bin=two"};
    for (const QString& place :
         {QStringLiteral("computer"), QStringLiteral("media"), QStringLiteral("app")}) {
        for (const bool move : {false, true}) {
            const QString what = place + (move ? QStringLiteral(", moved") : QStringLiteral(", copied"));
            QTest::addRow("%s, folder first", qPrintable(what)) << place << true << move << QStringList();
            QTest::addRow("%s, file first", qPrintable(what))
                << place << false << move << (move ? moved : copied);
        }
    }
}

// X/u/d.bin and the folder X/u/u (which holds a d.bin of its own) go into X, Replace for all. The
// folder merges into X/u, where its d.bin meets the first source: while that is still to be taken
// the clash is refused, naming it, and nothing is copied over it; once taken (the file listed
// first) the Replace goes ahead, its bytes being safe at X/d.bin.
void tst_ReplaceOutcomes::aTransferNeverReplacesItsOwnSourceNotYetTaken() {
    QFETCH(QString, place);
    QFETCH(bool, folderFirst);
    QFETCH(bool, move);
    QFETCH(QStringList, after);
    const QString top = (place == u"computer" ? m_mac
                         : place == u"media"  ? m_media
                                              : m_app) +
                        QStringLiteral("/X");
    const auto at = [&](const QString& relative) {
        const QString path = QStringLiteral("/X") + relative;
        const URL url = place == u"computer" ? URL::fileURL(m_mac + path)
                        : place == u"media"  ? AFCLocation::mediaURL(udid, path)
                                             : AFCLocation::containerURL(udid, appID, path);
        const QFileInfo info(top + relative);
        return FileItem(url.absoluteString(), url.lastPathComponent(), url, info.isDir(),
                        info.isDir() ? 0 : quint64(info.size()), Date::now(), FileKind::other, std::nullopt);
    };
    QVERIFY(writeTestFile(top + QStringLiteral("/u/d.bin"), "one"));
    QVERIFY(writeTestFile(top + QStringLiteral("/u/u/d.bin"), "two"));
    const QStringList before = itemsIn(top);
    const FileItem file = at(QStringLiteral("/u/d.bin"));
    const FileItem folder = at(QStringLiteral("/u/u"));
    const QList<FileItem> sources =
        folderFirst ? QList<FileItem>{folder, file} : QList<FileItem>{file, folder};
    const URL destination = at(QString()).path();
    m_prompter->answers = {answer(ConflictResolution::replace, true),
                           answer(ConflictResolution::replace, true)};
    const QString refusal =
        TransferError::ioError(
            QStringLiteral("Cannot replace \"d.bin\": it is one of the items being transferred"))
            .description();

    if (move) {
        const QString failure = failureText<TransferError>(m_manager->moveItems(sources, destination));
        QCOMPARE(itemsIn(top), after.isEmpty() ? before : after);
        QCOMPARE(failure, after.isEmpty() ? refusal : QStringLiteral("<did not fail with this error type>"));
    } else {
        const Transfer done = transfer(sources, destination);
        QCOMPARE(itemsIn(top), after.isEmpty() ? before : after);
        QCOMPARE(done.state, after.isEmpty() ? TransferState::failed : TransferState::completed);
        if (after.isEmpty()) {
            QVERIFY(done.error);
            QCOMPARE(done.error->description(), refusal);
            QCOMPARE(done.reportEntries.size(), 0);
        }
    }
    QCOMPARE(LeftoverJournal::shared()->entries(), QList<LeftoverJournal::Entry>());
}

void tst_ReplaceOutcomes::aMoveNeverReplacesAFolderHoldingItsNextItem_data() {
    QTest::addColumn<Side>("side");
    QTest::newRow("on this computer") << Side::mac;
    QTest::newRow("on the device") << Side::device;
}

// Moving the file Y/u and the folder X/u/w into X, Replace for all: the file would replace the
// folder X/u, which holds the second item, before it is moved. Refused by the rename and by the copy.
void tst_ReplaceOutcomes::aMoveNeverReplacesAFolderHoldingItsNextItem() {
    QFETCH(Side, side);
    QVERIFY(writeTestFile(root(side) + QStringLiteral("/Y/u"), "file"));
    QVERIFY(writeTestFile(root(side) + QStringLiteral("/X/u/w/kept.txt"), "kept"));
    const QStringList before = itemsIn(root(side));
    m_prompter->answers = {answer(ConflictResolution::replace, true),
                           answer(ConflictResolution::replace, true)};

    QCOMPARE(failureText<TransferError>(m_manager->moveItems(
                 {item(side, QStringLiteral("/Y/u")), item(side, QStringLiteral("/X/u/w"))},
                 location(side, QStringLiteral("/X")))),
             TransferError::ioError(
                 QStringLiteral("Cannot replace \"u\": it holds \"w\", one of the items being transferred"))
                 .description());
    QCOMPARE(itemsIn(root(side)), before);
    QCOMPARE(LeftoverJournal::shared()->entries(), QList<LeftoverJournal::Entry>());
}

// A folder of one file (no staging folder) cancelled while the device takes none of its writes:
// the cut connection cannot remove the partial copy, so the folder's entry stays, and the device's
// next session removes it.
void tst_ReplaceOutcomes::aCancelledFolderOnASilentDeviceIsClearedAtTheNextSession() {
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Album/clip.mov"), patternBytes(4 << 20)));
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst")));
    m_device->faults().stallWrites();

    const Transfer started = launched({item(Side::mac, QStringLiteral("/src/Album"))},
                                      location(Side::device, QStringLiteral("/dst")));
    QVERIFY(writeStalled());
    m_manager->cancelTransfer(started.id);
    drainPostedEvents();
    m_timers.advance(std::chrono::milliseconds(250));
    QCOMPARE(finished(started.id).state, TransferState::cancelled);
    m_device->faults().releaseWrites();

    runSync(m_bridge->connect(udid));
    QCOMPARE(treeOf(m_media + QStringLiteral("/dst")), QStringList{"Album/"});
    QCOMPARE(LeftoverJournal::shared()->entries(), QList<LeftoverJournal::Entry>());
}

void tst_ReplaceOutcomes::aStagingFolderThatWillNotGoStaysOutOfTheUsersFolder_data() {
    QTest::addColumn<bool>("removals");
    QTest::newRow("removed item by item") << true;
    QTest::newRow("not removed at all") << false;
}

// A folder replaces a file of its name, built under a hidden name. The device refuses to remove
// the build's staging folder in one request: it goes item by item, and where even that fails the
// build never takes the name; the old file comes back, and the next session clears the rest.
void tst_ReplaceOutcomes::aStagingFolderThatWillNotGoStaysOutOfTheUsersFolder() {
    QFETCH(bool, removals);
    for (const QString& name : {QStringLiteral("a.txt"), QStringLiteral("b.txt")})
        QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Album/") + name, "new"));
    const QString destination = m_media + QStringLiteral("/dst");
    QVERIFY(writeTestFile(destination + QStringLiteral("/Album"), "old"));
    m_prompter->answers = {answer(ConflictResolution::replace)};
    constexpr uint64_t permissionDenied = 10;
    m_device->faults().refuseOperation("REMOVE_PATH_AND_CONTENTS", permissionDenied);
    if (!removals)
        m_device->faults().refuseOperation("REMOVE_PATH", permissionDenied);

    const Transfer done = transfer({item(Side::mac, QStringLiteral("/src/Album"))},
                                   location(Side::device, QStringLiteral("/dst")));
    if (removals) {
        QCOMPARE(done.state, TransferState::completed);
        QCOMPARE(itemsIn(destination), (QStringList{"Album/", "Album/a.txt=new", "Album/b.txt=new"}));
        QCOMPARE(LeftoverJournal::shared()->entries(), QList<LeftoverJournal::Entry>());
        return;
    }
    QCOMPARE(done.state, TransferState::failed);
    QVERIFY(itemsIn(destination).contains(QStringLiteral("Album=old")));

    m_device->faults().clear();
    runSync(m_bridge->disconnectAll(udid));
    runSync(m_bridge->connect(udid));
    QCOMPARE(itemsIn(destination), QStringList{"Album=old"});
    QCOMPARE(LeftoverJournal::shared()->entries(), QList<LeftoverJournal::Entry>());
}

// A Replace whose copy fails puts the old file back. Another program writes a file under its name
// right before the request that would give the old file its name back reaches the device: that
// file stays, and the old one comes back beside it.
void tst_ReplaceOutcomes::anItemPutBackNeverReplacesAFileWrittenMeanwhile() {
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Notes.txt"), "new"));
    const QString destination = m_media + QStringLiteral("/dst");
    QVERIFY(writeTestFile(destination + QStringLiteral("/Notes.txt"), "old"));
    m_prompter->answers = {answer(ConflictResolution::replace)};
    // No room for the copy: it fails once the old file is aside.
    m_device->faults().setQuota(0);
    TransferPlacement::setStepHookForTesting([this](const QString& step, const URL&) {
        if (step != QLatin1String("aside"))
            return;
        m_device->faults().holdNext("RENAME_PATH");
        m_device->faults().holdNext("MAKE_LINK");
    });

    const Transfer started = launched({item(Side::mac, QStringLiteral("/src/Notes.txt"))},
                                      location(Side::device, QStringLiteral("/dst")));
    QVERIFY(requestHeld(*m_device));
    QVERIFY(writeTestFile(destination + QStringLiteral("/Notes.txt"), "theirs"));
    m_device->faults().releaseHeld();

    QCOMPARE(finished(started.id).state, TransferState::failed);
    QCOMPARE(itemsIn(destination), (QStringList{"Notes copy.txt=old", "Notes.txt=theirs"}));
    QCOMPARE(LeftoverJournal::shared()->entries(), QList<LeftoverJournal::Entry>());
}

ORVANTA_DEVICE_TEST_MAIN(tst_ReplaceOutcomes)
#include "tst_ReplaceOutcomes.moc"
