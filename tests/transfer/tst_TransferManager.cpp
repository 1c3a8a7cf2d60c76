#include "transfer/TransferManager.h"

#include "device/AFCBridge.h"
#include "device/AFCComponents.h"
#include "device/AFCLocation.h"
#include "device/AFCPath.h"
#include "platform/TemporaryDirectory.h"
#include "platform/UuidText.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "services/FileSystemProvider.h"
#include "services/PreferencesViewController.h"
#include "transfer/TransferReportWriter.h"

#include "EventLoop.h"
#include "LogCapture.h"
#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using async::runSync;

namespace {

constexpr qint64 mib = 1 << 20;
// 2021-03-04 05:06:07 UTC, with nanoseconds that a copy must carry over too.
constexpr time_t sourceSeconds = 1614834367;
constexpr long sourceNanoseconds = 123456789;

qint64 mtimeNanoseconds(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool setMtime(const QString& path, time_t seconds, long nanoseconds) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

} // namespace

using Side = TransferTestCase::Side;
Q_DECLARE_METATYPE(std::optional<double>)

// The transfer engine against the device emulator and temporary folders: copies in the four
// directions, placement and name clashes, failures that must not lose data, and what a finished
// transfer leaves (record, report, history).
class tst_TransferManager : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void copiesInEveryDirection_data();
    void copiesInEveryDirection();
    void nameClashes_data();
    void nameClashes();
    void applyToAllAnswersLaterClashesOfThatTransferOnly();
    void folderMergesIntoExistingFolderAskingOnlyAboutFiles();
    void sourceAlreadyAtItsDestinationIsSkipped_data();
    void sourceAlreadyAtItsDestinationIsSkipped();
    void folderIntoItselfFailsBeforeAnythingIsMade_data();
    void folderIntoItselfFailsBeforeAnythingIsMade();
    void replaceNeverRemovesTheSource();
    void cancelDuringTheQuestionDeletesNothing();
    void unplugMidFolderReportsOnlyWholeFiles();
    void cancelMidFileLeavesNoPartialFile();
    void unreadableChildrenAreReportedNotSkipped_data();
    void unreadableChildrenAreReportedNotSkipped();
    void historySurvivesANewManagerAndKeepsTheNewest100();
    void managerDestroyedMidTransferIsLeftAlone();
    void retryCopiesWhatIsThereNow();

    void verificationOutcomesInEveryDirection_data();
    void verificationOutcomesInEveryDirection();
    void awaitedFailureIsNeverReportedCompleted_data();
    void awaitedFailureIsNeverReportedCompleted();
    void watchdogGivesUpWhenReadsHold();
    void movesInEveryDirection_data();
    void movesInEveryDirection();
    void moveKeepsSourcesTheCopyDidNotTakeWhole_data();
    void moveKeepsSourcesTheCopyDidNotTakeWhole();
    void moveBetweenSessionsOfOneDeviceCopies();
    void vanishedSourceFailsAsNotFound_data();
    void vanishedSourceFailsAsNotFound();

private:
    // Runs the transfer's wait in a task of its own while the manual clock is stepped a second at
    // a time; advance() says when the next step may be taken. The error the wait ended with.
    std::exception_ptr stepClockUntilDone(async::Task<void> waiting, const std::function<bool()>& mayStep);
    QString localPath(const URL& url) const;

    int m_uploadNotices = 0;
    Subscription m_uploadObserver;
};

void tst_TransferManager::initTestCase() {
    setUpTransferTestCase();
}

void tst_TransferManager::init() {
    setUpTransfers();
    m_uploadNotices = 0;
    m_uploadObserver = m_notifications.observe(TransferManager::afcFilesUploaded,
                                               [this](const Notification&) { ++m_uploadNotices; });
}

void tst_TransferManager::cleanup() {
    m_uploadObserver.cancel();
    tearDownTransfers();
}

void tst_TransferManager::copiesInEveryDirection_data() {
    QTest::addColumn<Side>("from");
    QTest::addColumn<Side>("to");
    QTest::addColumn<bool>("folder");
    const std::pair<Side, const char*> sides[] = {{Side::mac, "computer"}, {Side::device, "device"}};
    for (const auto& [from, fromName] : sides) {
        for (const auto& [to, toName] : sides) {
            QTest::addRow("%s to %s, file", fromName, toName) << from << to << false;
            QTest::addRow("%s to %s, nested folder", fromName, toName) << from << to << true;
        }
    }
}

void tst_TransferManager::copiesInEveryDirection() {
    QFETCH(Side, from);
    QFETCH(Side, to);
    QFETCH(bool, folder);
    const QString source = root(from) + QStringLiteral("/src");
    struct File {
        const char* path;
        qint64 size;
    };
    const QList<File> files = folder ? QList<File>{{"/Album/a.jpg", 64 * 1024},
                                                   {"/Album/Sub/b.txt", 1},
                                                   {"/Album/Sub/Deeper/c.bin", 5 * mib / 2},
                                                   {"/Album/Sub/Deeper/zero.txt", 0}}
                                     : QList<File>{{"/Photo.jpg", 3 * mib + 17}};
    quint64 total = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString path = source + QLatin1String(files[i].path);
        QVERIFY(writeTestFile(path, patternBytes(files[i].size + i).right(files[i].size)));
        QVERIFY(setMtime(path, sourceSeconds + i, sourceNanoseconds));
        total += quint64(files[i].size);
    }
    if (folder)
        QVERIFY(QDir().mkpath(source + QStringLiteral("/Album/Empty")));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));
    const QString top = folder ? QStringLiteral("/Album") : QStringLiteral("/Photo.jpg");
    const qsizetype temporaries =
        QDir(runTemporaryDirectory()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();

    const Transfer done =
        transfer({item(from, QStringLiteral("/src") + top)}, location(to, QStringLiteral("/dst")));

    QCOMPARE(done.state, TransferState::completed);
    QVERIFY(!done.error);
    QCOMPARE(treeOf(root(to) + QStringLiteral("/dst")), treeOf(source));
    for (const File& file : files) {
        const QString copy = root(to) + QStringLiteral("/dst") + QLatin1String(file.path);
        QCOMPARE(fileContents(copy), fileContents(source + QLatin1String(file.path)));
        // A copy on this computer keeps its source's date (to the microsecond a date holds).
        if (to == Side::mac)
            QVERIFY(std::abs(mtimeNanoseconds(copy) - mtimeNanoseconds(source + QLatin1String(file.path))) <
                    1000);
    }
    QCOMPARE(done.reportEntries.size(), files.size());
    QCOMPARE(done.progress.bytesTransferred, total);
    QCOMPARE(done.progress.filesCompleted, 1);
    // The report the Transfer Center opens holds the finished record.
    QVERIFY(done.reportURL);
    QCOMPARE(QString::fromUtf8(fileContents(done.reportURL->toLocalFile())),
             TransferReportWriter::reportText(done));
    QCOMPARE(m_uploadNotices, to == Side::device ? 1 : 0);
    QCOMPARE(QDir(runTemporaryDirectory()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(),
             temporaries);
    QVERIFY(m_prompter->questions.isEmpty());
}

// The free names themselves are the placement's; here each answer must reach the files.
void tst_TransferManager::nameClashes_data() {
    QTest::addColumn<Side>("to");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("name");
    QTest::addColumn<ConflictAnswer>("reply");
    QTest::addColumn<QString>("written"); // where the new content ends up; empty: nowhere
    QTest::addColumn<TransferState>("state");

    const auto keepBoth = answer(ConflictResolution::keepBoth);
    QTest::newRow("keep both, numbered")
        << Side::mac << QStringList{"IMG_0001.JPG", "IMG_0001 copy.JPG"} << "IMG_0001.JPG" << keepBoth
        << "IMG_0001 copy 2.JPG" << TransferState(TransferState::completed);
    QTest::newRow("stop") << Side::mac << QStringList{"IMG.JPG"} << "IMG.JPG"
                          << answer(ConflictResolution::stop) << QString()
                          << TransferState(TransferState::cancelled);
    QTest::newRow("replace on a device")
        << Side::device << QStringList{"IMG.JPG"} << "IMG.JPG" << answer(ConflictResolution::replace)
        << "IMG.JPG" << TransferState(TransferState::completed);
}

void tst_TransferManager::nameClashes() {
    QFETCH(Side, to);
    QFETCH(QStringList, existing);
    QFETCH(QString, name);
    QFETCH(ConflictAnswer, reply);
    QFETCH(QString, written);
    QFETCH(TransferState, state);
    const QString destination = root(to) + QStringLiteral("/dst/");
    for (const QString& file : existing)
        QVERIFY(writeTestFile(destination + file, "old"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/") + name, "new content"));
    m_prompter->answers = {reply};

    const Transfer done =
        transfer({item(Side::mac, QStringLiteral("/src/") + name)}, location(to, QStringLiteral("/dst")));

    QCOMPARE(done.state, state);
    QCOMPARE(m_prompter->questions, QStringList{name});
    QStringList expected = existing;
    if (!written.isEmpty() && !expected.contains(written))
        expected.append(written);
    expected.sort();
    QCOMPARE(QDir(destination).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
    for (const QString& file : existing)
        QCOMPARE(fileContents(destination + file),
                 file == written ? QByteArray("new content") : QByteArray("old"));
    if (!written.isEmpty())
        QCOMPARE(fileContents(destination + written), QByteArray("new content"));
}

void tst_TransferManager::applyToAllAnswersLaterClashesOfThatTransferOnly() {
    const QStringList names{"a.txt", "b.txt", "c.txt"};
    QList<FileItem> sources;
    for (const QString& name : names) {
        QVERIFY(writeTestFile(m_mac + QStringLiteral("/dst/") + name, "old"));
        QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/") + name, "new"));
        sources.append(item(Side::mac, QStringLiteral("/src/") + name));
    }
    m_prompter->answers = {answer(ConflictResolution::keepBoth, true)};

    const Transfer first = transfer(sources, location(Side::mac, QStringLiteral("/dst")));

    QCOMPARE(first.state, TransferState::completed);
    QCOMPARE(m_prompter->questions, QStringList{"a.txt"});
    for (const char* copy : {"a copy.txt", "b copy.txt", "c copy.txt"})
        QCOMPARE(fileContents(m_mac + QStringLiteral("/dst/") + QLatin1String(copy)), QByteArray("new"));

    // Another transfer keeps no answer of the first.
    m_prompter->answers = {answer(ConflictResolution::stop)};
    const Transfer second = transfer({sources.first()}, location(Side::mac, QStringLiteral("/dst")));
    QCOMPARE(second.state, TransferState::cancelled);
    QCOMPARE(m_prompter->questions, (QStringList{"a.txt", "a.txt"}));
}

void tst_TransferManager::folderMergesIntoExistingFolderAskingOnlyAboutFiles() {
    QVERIFY(writeTestFile(m_media + QStringLiteral("/dst/Album/old.txt"), "old"));
    QVERIFY(writeTestFile(m_media + QStringLiteral("/dst/Album/a.jpg"), "old"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Album/a.jpg"), "new"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Album/Sub/new.txt"), "new"));
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst/Album/Sub")));
    m_prompter->answers = {answer(ConflictResolution::keepBoth)};

    const Transfer done = transfer({item(Side::mac, QStringLiteral("/src/Album"))},
                                   location(Side::device, QStringLiteral("/dst")));

    QCOMPARE(done.state, TransferState::completed);
    QCOMPARE(m_prompter->questions, QStringList{"a.jpg"});
    QCOMPARE(treeOf(m_media + QStringLiteral("/dst")),
             (QStringList{"Album/", "Album/Sub/", "Album/Sub/new.txt 3", "Album/a copy.jpg 3",
                          "Album/a.jpg 3", "Album/old.txt 3"}));
    QCOMPARE(fileContents(m_media + QStringLiteral("/dst/Album/a.jpg")), QByteArray("old"));
}

void tst_TransferManager::sourceAlreadyAtItsDestinationIsSkipped_data() {
    QTest::addColumn<Side>("side");
    QTest::addColumn<bool>("hardLink");
    QTest::newRow("device") << Side::device << false;
    QTest::newRow("computer, another name of the same file") << Side::mac << true;
}

void tst_TransferManager::sourceAlreadyAtItsDestinationIsSkipped() {
    QFETCH(Side, side);
    QFETCH(bool, hardLink);
    QVERIFY(writeTestFile(root(side) + QStringLiteral("/dst/f.txt"), "data"));
    QString source = QStringLiteral("/dst/f.txt");
    if (hardLink) {
        QVERIFY(QDir().mkpath(m_mac + QStringLiteral("/other")));
        QCOMPARE(::link(QFile::encodeName(m_mac + QStringLiteral("/dst/f.txt")).constData(),
                        QFile::encodeName(m_mac + QStringLiteral("/other/f.txt")).constData()),
                 0);
        source = QStringLiteral("/other/f.txt");
    }
    LogCapture log;

    const Transfer done = transfer({item(side, source)}, location(side, QStringLiteral("/dst")));

    QCOMPARE(done.state, TransferState::completed);
    QCOMPARE(done.progress.filesCompleted, 1);
    QVERIFY(done.reportEntries.isEmpty());
    QVERIFY(m_prompter->questions.isEmpty());
    QVERIFY(log.contains(LogCapture::category(QStringLiteral("transfer")),
                         QStringLiteral("Skipped no-op transfer for f.txt")));
    QCOMPARE(fileContents(root(side) + QStringLiteral("/dst/f.txt")), QByteArray("data"));
}

void tst_TransferManager::folderIntoItselfFailsBeforeAnythingIsMade_data() {
    QTest::addColumn<Side>("side");
    QTest::newRow("computer") << Side::mac;
    QTest::newRow("device") << Side::device;
}

void tst_TransferManager::folderIntoItselfFailsBeforeAnythingIsMade() {
    QFETCH(Side, side);
    QVERIFY(writeTestFile(root(side) + QStringLiteral("/A/inner/file.txt"), "data"));
    const QStringList before = treeOf(root(side) + QStringLiteral("/A"));

    const Transfer done =
        transfer({item(side, QStringLiteral("/A"))}, location(side, QStringLiteral("/A/inner")));

    QCOMPARE(done.state, TransferState::failed);
    QVERIFY(done.error);
    QCOMPARE(done.error->errorCase(), TransferError::Case::ioError);
    QVERIFY2(done.error->message().contains(QStringLiteral("into itself")),
             qPrintable(done.error->message()));
    QCOMPARE(treeOf(root(side) + QStringLiteral("/A")), before);
}

void tst_TransferManager::replaceNeverRemovesTheSource() {
    // The file "photos" lies in the folder "photos" that a Replace would remove to make room.
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/D/photos/photos"), "the only copy"));
    m_prompter->answers = {answer(ConflictResolution::replace)};

    const Transfer done = transfer({item(Side::mac, QStringLiteral("/D/photos/photos"))},
                                   location(Side::mac, QStringLiteral("/D")));

    QCOMPARE(done.state, TransferState::failed);
    QCOMPARE(done.error->errorCase(), TransferError::Case::ioError);
    QCOMPARE(fileContents(m_mac + QStringLiteral("/D/photos/photos")), QByteArray("the only copy"));
}

void tst_TransferManager::cancelDuringTheQuestionDeletesNothing() {
    // A folder onto a file: Replace would remove the file first.
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/dst/X"), "keep me"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/X/inside.txt"), "new"));
    QUuid id;
    m_prompter->onAsk = [this, &id] {
        m_manager->cancelTransfer(id);
    };
    m_prompter->answers = {answer(ConflictResolution::replace)};

    const Transfer started =
        launched({item(Side::mac, QStringLiteral("/src/X"))}, location(Side::mac, QStringLiteral("/dst")));
    id = started.id;
    const Transfer done = finished(id);
    // Let the cancelled task run to its end.
    drainPostedEvents();

    QCOMPARE(m_prompter->questions, QStringList{"X"});
    QCOMPARE(done.state, TransferState::cancelled);
    QCOMPARE(fileContents(m_mac + QStringLiteral("/dst/X")), QByteArray("keep me"));
}

void tst_TransferManager::unplugMidFolderReportsOnlyWholeFiles() {
    for (int i = 0; i < 5; ++i)
        QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Set/%1.bin").arg(i), patternBytes(mib)));
    m_device->faults().unplugAfterAfcBytes(5 * mib / 2);

    const Transfer done = transfer({item(Side::mac, QStringLiteral("/src/Set"))},
                                   location(Side::device, QStringLiteral("/dst")));

    QCOMPARE(done.state, TransferState::failed);
    QCOMPARE(*done.error, TransferError::deviceDisconnected());
    QVERIFY(done.reportEntries.size() <= 2);
    for (const TransferReportEntry& entry : done.reportEntries)
        QCOMPARE(QFileInfo(m_media + QStringLiteral("/dst/Set/") + entry.name()).size(), mib);
    QCOMPARE(done.progress.bytesTransferred, quint64(done.reportEntries.size() * mib));
}

// Device to device: the copy's partial file is on the device, where only the bridge can remove it.
void tst_TransferManager::cancelMidFileLeavesNoPartialFile() {
    const Side from = Side::device, to = Side::device;
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/clip.mov"), patternBytes(4 * mib)));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));
    m_device->faults().gateReads(mib);

    const Transfer started =
        launched({item(from, QStringLiteral("/src/clip.mov"))}, location(to, QStringLiteral("/dst")));
    QVERIFY(readHeld());
    // As quitting does.
    m_manager->cancelAllTransfers();
    // Its record says cancelled at once and ends with its task, which still has its partial file
    // to remove: whatever the task completes meanwhile belongs in the report.
    QCOMPARE(m_manager->activeTransfers.value().front().state, TransferState::cancelled);
    QVERIFY(m_manager->completedTransfers.value().isEmpty());
    QCOMPARE(m_manager->runningTransferTasks(), 1);
    m_device->faults().releaseReads();
    const Transfer done = finished(started.id);
    // The cancelled task ends at its next check, after removing what it wrote.
    QTRY_COMPARE_WITH_TIMEOUT(m_manager->runningTransferTasks(), 0, 20000);

    QCOMPARE(done.state, TransferState::cancelled);
    QVERIFY(done.reportEntries.isEmpty());
    QCOMPARE(treeOf(root(to) + QStringLiteral("/dst")), QStringList());
    // Its end, arriving after the cancel, records nothing a second time.
    QCOMPARE(m_manager->completedTransfers.value().size(), 1);
    QCOMPARE(m_manager->transferHistory.value().size(), 1);
    QCOMPARE(QDir(TransferReportWriter::reportsDirectory()).entryList(QDir::Files).size(), 1);
}

void tst_TransferManager::unreadableChildrenAreReportedNotSkipped_data() {
    QTest::addColumn<Side>("from");
    QTest::newRow("device: unsafe name") << Side::device;
    QTest::newRow("computer: named pipe") << Side::mac;
}

void tst_TransferManager::unreadableChildrenAreReportedNotSkipped() {
    QFETCH(Side, from);
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/Album/a.jpg"), "a"));
    QString unreadable;
    if (from == Side::device) {
        unreadable = QStringLiteral("../escape");
        m_device->faults().addHostileEntries("/src/Album", {unreadable.toStdString()});
    } else {
        unreadable = QStringLiteral("pipe");
        QCOMPARE(::mkfifo(QFile::encodeName(m_mac + QStringLiteral("/src/Album/pipe")).constData(), 0600), 0);
    }
    LogCapture log;

    const Transfer done =
        transfer({item(from, QStringLiteral("/src/Album"))}, location(Side::mac, QStringLiteral("/dst")));

    QCOMPARE(done.state, TransferState::failed);
    QCOMPARE(done.error->errorCase(), TransferError::Case::ioError);
    QVERIFY2(done.error->message().contains(unreadable), qPrintable(done.error->message()));
    QCOMPARE(fileContents(m_mac + QStringLiteral("/dst/Album/a.jpg")), QByteArray("a"));
    QCOMPARE(done.reportEntries.size(), 2);
    const auto failedEntry =
        std::find_if(done.reportEntries.begin(), done.reportEntries.end(),
                     [&](const TransferReportEntry& e) { return e.name() == unreadable; });
    QVERIFY(failedEntry != done.reportEntries.end());
    QCOMPARE(failedEntry->verificationOutcome(), TransferVerificationOutcome::failed);
    QVERIFY(!log.messages(LogCapture::category(QStringLiteral("transfer"))).filter(unreadable).isEmpty());
}

void tst_TransferManager::historySurvivesANewManagerAndKeepsTheNewest100() {
    QVERIFY(QDir().mkpath(m_mac + QStringLiteral("/dst")));
    QList<QUuid> ids;
    for (int i = 0; i < 101; ++i)
        ids.prepend(transfer({}, location(Side::mac, QStringLiteral("/dst"))).id);

    QCOMPARE(m_manager->completedTransfers.value().size(), 20);
    QCOMPARE(m_manager->completedTransfers.value().front().id, ids.front());
    QList<QUuid> kept;
    for (const TransferHistoryEntry& entry : m_manager->transferHistory.value())
        kept.append(entry.id());
    QCOMPARE(kept, ids.mid(0, 100));

    m_manager =
        std::make_unique<TransferManager>(PreferencesViewController::defaults(), m_clock, m_notifications);
    QList<QUuid> loaded;
    for (const TransferHistoryEntry& entry : m_manager->transferHistory.value())
        loaded.append(entry.id());
    QCOMPARE(loaded, kept);
    QCOMPARE(m_manager->transferHistory.value().front().state(), TransferState::completed);
}

void tst_TransferManager::managerDestroyedMidTransferIsLeftAlone() {
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/Set/a.mov"), patternBytes(3 * mib)));
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/Set/b.mov"), patternBytes(3 * mib)));
    m_device->faults().gateReads(mib);
    launched({item(Side::device, QStringLiteral("/src/Set"))}, location(Side::mac, QStringLiteral("/dst")));
    QVERIFY(readHeld());

    m_manager.reset();
    m_device->faults().releaseReads();
    // The copies end at their next check and touch nothing of the manager on their way out.
    runSync(m_bridge->connect(udid));
    drainPostedEvents();
    QVERIFY(!QFileInfo::exists(m_mac + QStringLiteral("/dst/Set/b.mov")));
}

void tst_TransferManager::retryCopiesWhatIsThereNow() {
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/a.txt"), "first"));
    QVERIFY(QDir().mkpath(m_mac + QStringLiteral("/dst")));
    const Transfer first = transfer({item(Side::mac, QStringLiteral("/src/a.txt"))},
                                    location(Side::mac, QStringLiteral("/dst")));
    QCOMPARE(first.state, TransferState::completed);
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/a.txt"), "second"));
    m_prompter->answers = {answer(ConflictResolution::replace)};

    runSync(m_manager->retryTransfer(m_manager->transferHistory.value().front()));
    const Transfer retried = finished(m_manager->activeTransfers.value().front().id);

    QVERIFY(retried.id != first.id);
    QCOMPARE(retried.state, TransferState::completed);
    QCOMPARE(retried.sources.front().size(), quint64(6));
    QCOMPARE(fileContents(m_mac + QStringLiteral("/dst/a.txt")), QByteArray("second"));
    QCOMPARE(m_manager->transferHistory.value().size(), 2);
}

QString tst_TransferManager::localPath(const URL& url) const {
    if (url.scheme() != QLatin1String("afc"))
        return url.toLocalFile();
    return m_media + afcComponents(url)->devicePath;
}

void tst_TransferManager::verificationOutcomesInEveryDirection_data() {
    QTest::addColumn<Side>("from");
    QTest::addColumn<Side>("to");
    QTest::addColumn<bool>("verifyOn");
    QTest::addColumn<QString>("fault"); // done to the big copy between its copy and its check
    QTest::addColumn<TransferVerificationOutcome>("outcome");
    using Outcome = TransferVerificationOutcome;
    QTest::newRow("computer to device, equal")
        << Side::mac << Side::device << true << "" << Outcome(Outcome::verified);
    QTest::newRow("device to computer, altered")
        << Side::device << Side::mac << true << "alter" << Outcome(Outcome::mismatch);
    QTest::newRow("device to device, altered")
        << Side::device << Side::device << true << "alter" << Outcome(Outcome::mismatch);
    // The check cannot read the copy: it fails, and the copy is not removed.
    QTest::newRow("computer to computer, copy taken away")
        << Side::mac << Side::mac << true << "remove" << Outcome(Outcome::failed);
    QTest::newRow("setting off") << Side::device << Side::mac << false << "alter"
                                 << Outcome(Outcome::skipped);
}

void tst_TransferManager::verificationOutcomesInEveryDirection() {
    QFETCH(Side, from);
    QFETCH(Side, to);
    QFETCH(bool, verifyOn);
    QFETCH(QString, fault);
    QFETCH(TransferVerificationOutcome, outcome);
    PreferencesViewController::defaults().set(PreferencesViewController::verifyTransfersKey, verifyOn);
    // Two files, one of them empty and one over two device chunks; the big one is altered after
    // its copy by one byte, keeping its size, so only the digests can tell.
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/Set/big.bin"), patternBytes(2 * mib + 3)));
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/Set/empty.txt"), QByteArray()));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));
    const QString bigCopy = root(to) + QStringLiteral("/dst/Set/big.bin");
    int hashedPairs = 0;
    m_manager->setBeforeVerification([&](const URL&, const URL& destination) {
        ++hashedPairs;
        if (destination.lastPathComponent() != QLatin1String("big.bin"))
            return;
        QFile file(localPath(destination));
        if (fault == QLatin1String("alter")) {
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.seek(mib + 1);
            file.write("!");
        } else if (fault == QLatin1String("remove")) {
            QVERIFY(file.rename(bigCopy + QStringLiteral(".away")));
        }
    });
    LogCapture logs;

    const Transfer done =
        transfer({item(from, QStringLiteral("/src/Set"))}, location(to, QStringLiteral("/dst")));

    QCOMPARE(done.state, TransferState::completed);
    QCOMPARE(hashedPairs, verifyOn ? 2 : 0);
    QCOMPARE(done.reportEntries.size(), 2);
    for (const TransferReportEntry& entry : done.reportEntries) {
        if (entry.name() == QLatin1String("empty.txt")) {
            QCOMPARE(entry.verificationOutcome(),
                     verifyOn ? TransferVerificationOutcome::verified : TransferVerificationOutcome::skipped);
            continue;
        }
        QCOMPARE(entry.verificationOutcome(), outcome);
        const QString detail = entry.verificationDetail().value_or(QString());
        if (outcome == TransferVerificationOutcome::mismatch) {
            QCOMPARE(detail.size(), 47);
            QVERIFY(detail.startsWith(
                QStringLiteral("SHA-256 mismatch (") +
                runSync(m_manager->sha256Hex(location(from, QStringLiteral("/src/Set/big.bin")))).left(12) +
                QStringLiteral(" != ")));
        } else {
            QCOMPARE(detail.isEmpty(), outcome != TransferVerificationOutcome::failed);
        }
    }
    // The copy stays whatever its check said.
    QVERIFY(
        QFileInfo::exists(fault == QLatin1String("remove") ? bigCopy + QStringLiteral(".away") : bigCopy));
    QCOMPARE(done.verificationSummary.requested, verifyOn);
    QCOMPARE(done.verificationSummary.verifiedFiles, verifyOn ? (fault.isEmpty() ? 2 : 1) : 0);
    QCOMPARE(done.verificationSummary.mismatchedFiles,
             qint64(outcome == TransferVerificationOutcome::mismatch));
    QCOMPARE(done.verificationSummary.failedFiles, qint64(outcome == TransferVerificationOutcome::failed));
    QCOMPARE(logs.messages(LogCapture::category(QStringLiteral("transfer")))
                 .filter(QStringLiteral("Verification failed: "))
                 .size(),
             qsizetype(outcome == TransferVerificationOutcome::failed));
}

void tst_TransferManager::awaitedFailureIsNeverReportedCompleted_data() {
    QTest::addColumn<std::optional<double>>("stallTimeout");
    QTest::newRow("no watchdog") << std::optional<double>();
    QTest::newRow("watchdog") << std::optional<double>(30.0);
}

void tst_TransferManager::awaitedFailureIsNeverReportedCompleted() {
    QFETCH(std::optional<double>, stallTimeout);
    const FileItem missing = item(Side::mac, QStringLiteral("/src/gone.txt"));

    try {
        runSync(m_manager->transferAndAwait({missing}, location(Side::mac, QStringLiteral("/dst")),
                                            stallTimeout));
        QFAIL("a failed transfer was reported completed");
    } catch (const TransferError& error) {
        QCOMPARE(error.errorCase(), TransferError::Case::fileNotFound);
    }
    // A watchdog that looks after the end gives the transfer's own result, not a success.
    const QUuid id = m_manager->completedTransfers.value().front().id;
    QVERIFY_THROWS_EXCEPTION(TransferError, runSync(m_manager->runStallWatchdog(id, 5, {})));
    QVERIFY_THROWS_EXCEPTION(TransferError, runSync(m_manager->awaitCompletion(id)));
    QVERIFY_THROWS_EXCEPTION(TransferError, runSync(m_manager->awaitCompletion(QUuid::createUuid())));
}

std::exception_ptr tst_TransferManager::stepClockUntilDone(async::Task<void> waiting,
                                                           const std::function<bool()>& mayStep) {
    auto task = std::make_shared<async::Task<void>>(std::move(waiting));
    async::TaskHandle<void> handle =
        async::spawn([task](std::stop_token) -> async::Task<void> { co_await std::move(*task); });
    for (int step = 0; step < 200 && !handle.isFinished(); ++step) {
        // Only once the watchdog sleeps on the clock and the test allows it is time moved on; the
        // limit only keeps a broken test from hanging.
        const bool mayAdvance = QTest::qWaitFor(
            [&] { return handle.isFinished() || (m_clock.sleeperCount() > 0 && mayStep()); }, 20000);
        if (!mayAdvance || handle.isFinished())
            break;
        m_clock.advance(std::chrono::seconds(1));
    }
    try {
        runSync(handle.result());
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

void tst_TransferManager::watchdogGivesUpWhenReadsHold() {
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/clip.mov"), patternBytes(4 * mib)));
    QVERIFY(QDir().mkpath(m_mac + QStringLiteral("/dst")));
    m_device->faults().gateReads(mib);
    LogCapture logs;

    const std::exception_ptr error = stepClockUntilDone(
        m_manager->transferAndAwait({item(Side::device, QStringLiteral("/src/clip.mov"))},
                                    location(Side::mac, QStringLiteral("/dst")), 3.5),
        [this] { return m_device->faults().waitUntilReadHeld(std::chrono::milliseconds(1)); });
    m_device->faults().releaseReads();

    QVERIFY(error);
    try {
        std::rethrow_exception(error);
    } catch (const TransferError& stalled) {
        QCOMPARE(stalled.message(), QStringLiteral("Transfer stalled for 3 seconds"));
    } catch (...) {
        QFAIL("not the stall error");
    }
    // The record ends once the cancelled task has: after the held read, which is let go above.
    QTRY_VERIFY_WITH_TIMEOUT(!m_manager->completedTransfers.value().isEmpty(), 20000);
    QCOMPARE(m_manager->completedTransfers.value().front().state, TransferState::cancelled);
    const QString category = LogCapture::category(QStringLiteral("transfer"));
    // The identifier in the form the reports use: upper-case.
    const QString id = uuidString(m_manager->completedTransfers.value().front().id);
    QCOMPARE(id, id.toUpper());
    QVERIFY(logs.messages(category).filter(QStringLiteral("Transfer stalled for 3s (id: ") + id).size() == 1);
    QVERIFY(!QFileInfo::exists(m_mac + QStringLiteral("/dst/clip.mov")));
}

void tst_TransferManager::movesInEveryDirection_data() {
    QTest::addColumn<Side>("from");
    QTest::addColumn<Side>("to");
    QTest::addColumn<bool>("renamed");
    QTest::addColumn<int>("uploadNotices");
    QTest::addColumn<int>("deleteNotices");
    QTest::newRow("computer to computer") << Side::mac << Side::mac << true << 0 << 0;
    QTest::newRow("device to device") << Side::device << Side::device << true << 1 << 1;
    QTest::newRow("computer to device") << Side::mac << Side::device << false << 2 << 0;
    QTest::newRow("device to computer") << Side::device << Side::mac << false << 0 << 1;
}

void tst_TransferManager::movesInEveryDirection() {
    QFETCH(Side, from);
    QFETCH(Side, to);
    QFETCH(bool, renamed);
    QFETCH(int, uploadNotices);
    QFETCH(int, deleteNotices);
    // Hidden files are not shown, yet a move must carry them: it deletes the folder afterwards.
    PreferencesViewController::defaults().set(PreferencesViewController::showHiddenFilesKey, false);
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/Album/a.jpg"), patternBytes(70000)));
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/Album/.hidden"), "secret"));
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/Album/Sub/b.txt"), "b"));
    QVERIFY(QDir().mkpath(root(from) + QStringLiteral("/src/Album/Empty")));
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/note.txt"), "note"));
    QVERIFY(QDir().mkpath(root(to) + QStringLiteral("/dst")));
    const QStringList before = treeOf(root(from) + QStringLiteral("/src"));
    // The listing cache still holds the folder without the file added after it was listed.
    if (from == Side::device)
        runSync(m_provider->listDirectory(location(from, QStringLiteral("/src/Album"))));
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/Album/late.txt"), "late"));
    int deletions = 0;
    QVariantList deletedItems;
    Subscription deletionObserver =
        m_notifications.observe(TransferManager::afcFilesDeleted, [&](const Notification& notice) {
            ++deletions;
            deletedItems.append(notice.userInfo.value(QStringLiteral("items")));
        });
    const int transfersBefore = m_manager->completedTransfers.value().size();

    runSync(m_manager->moveItems(
        {item(from, QStringLiteral("/src/Album")), item(from, QStringLiteral("/src/note.txt"))},
        location(to, QStringLiteral("/dst"))));

    QStringList expected = before;
    expected.append(QStringLiteral("Album/late.txt 4"));
    expected.sort();
    QCOMPARE(treeOf(root(to) + QStringLiteral("/dst")), expected);
    QCOMPARE(treeOf(root(from) + QStringLiteral("/src")), QStringList());
    QCOMPARE(m_manager->completedTransfers.value().size() - transfersBefore, renamed ? 0 : 1);
    QCOMPARE(m_uploadNotices, uploadNotices);
    QCOMPARE(deletions, deleteNotices);
    QCOMPARE(deletedItems.size(), deleteNotices);
}

void tst_TransferManager::moveKeepsSourcesTheCopyDidNotTakeWhole_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("copy fails its check") << "mismatch";
    QTest::newRow("copy cancelled") << "stop";
}

void tst_TransferManager::moveKeepsSourcesTheCopyDidNotTakeWhole() {
    QFETCH(QString, fault);
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/Album/a.jpg"), patternBytes(70000)));
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/Album/b.jpg"), patternBytes(500)));
    if (fault == QLatin1String("mismatch")) {
        PreferencesViewController::defaults().set(PreferencesViewController::verifyTransfersKey, true);
        m_manager->setBeforeVerification([this](const URL&, const URL& destination) {
            if (destination.lastPathComponent() == QLatin1String("a.jpg"))
                QVERIFY(writeTestFile(localPath(destination), patternBytes(70001).right(70000)));
        });
    } else {
        QVERIFY(writeTestFile(m_mac + QStringLiteral("/dst/Album/a.jpg"), "there"));
        m_prompter->answers = {answer(ConflictResolution::stop)};
    }

    bool failed = false;
    try {
        runSync(m_manager->moveItems({item(Side::device, QStringLiteral("/src/Album"))},
                                     location(Side::mac, QStringLiteral("/dst"))));
    } catch (const TransferError&) {
        failed = true;
    } catch (const async::CancelledError&) {
        failed = true;
    }

    QVERIFY(failed);
    QVERIFY(treeOf(m_media + QStringLiteral("/src")).contains(QStringLiteral("Album/a.jpg 70000")));
}

void tst_TransferManager::moveBetweenSessionsOfOneDeviceCopies() {
    QVERIFY(writeTestFile(m_media + QStringLiteral("/src/a.txt"), "media"));
    QVERIFY(QDir().mkpath(m_app + QStringLiteral("/dst")));
    QVERIFY(QDir().mkpath(m_media + QStringLiteral("/dst")));
    const URL into = AFCLocation::containerURL(udid, appID, QStringLiteral("/dst"));

    // A rename in the media session would look for the container's path in the media area.
    runSync(m_manager->moveItems({item(Side::device, QStringLiteral("/src/a.txt"))}, into));

    QCOMPARE(fileContents(m_app + QStringLiteral("/dst/a.txt")), QByteArray("media"));
    QVERIFY(!QFileInfo::exists(m_media + QStringLiteral("/src/a.txt")));
    QVERIFY(!QFileInfo::exists(m_media + QStringLiteral("/dst/a.txt")));
    QCOMPARE(m_manager->completedTransfers.value().size(), 1);
}

void tst_TransferManager::vanishedSourceFailsAsNotFound_data() {
    QTest::addColumn<Side>("from");
    QTest::addColumn<Side>("to");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("move");
    const std::pair<Side, const char*> sides[] = {{Side::mac, "computer"}, {Side::device, "device"}};
    for (const auto& [from, fromName] : sides) {
        for (const auto& [to, toName] : sides) {
            QTest::addRow("move %s to %s, file", fromName, toName) << from << to << false << true;
            QTest::addRow("move %s to %s, folder", fromName, toName) << from << to << true << true;
        }
        QTest::addRow("copy %s to computer, folder", fromName) << from << Side::mac << true << false;
    }
}

// An item dropped after it was deleted elsewhere: what the browser showed is gone. Nothing may
// be reported as moved or copied, nothing may appear at the destination, and a clash there must
// not be asked about (or resolved by removing what is there) for an item that does not exist.
void tst_TransferManager::vanishedSourceFailsAsNotFound() {
    QFETCH(Side, from);
    QFETCH(Side, to);
    QFETCH(bool, folder);
    QFETCH(bool, move);
    const QString name = folder ? QStringLiteral("Album") : QStringLiteral("gone.txt");
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/") + name + QStringLiteral("/a.txt"), "a"));
    const URL url = location(from, QStringLiteral("/src/") + name);
    const FileItem vanished(url.absoluteString(), name, url, folder, folder ? 0 : 4, Date::now(),
                            folder ? FileKind(FileKind::folder) : FileKind::other, std::nullopt);
    QVERIFY(QDir(root(from) + QStringLiteral("/src/") + name).removeRecursively());
    // Something of that name is at the destination: it must be left alone, and not asked about.
    QVERIFY(writeTestFile(root(to) + QStringLiteral("/dst/") + name, "there"));
    const QStringList before = treeOf(root(to) + QStringLiteral("/dst"));
    const qsizetype historyBefore = m_manager->transferHistory.value().size();
    LogCapture logs;

    try {
        if (move)
            runSync(m_manager->moveItems({vanished}, location(to, QStringLiteral("/dst"))));
        else
            runSync(
                m_manager->transferAndAwait({vanished}, location(to, QStringLiteral("/dst")), std::nullopt));
        QFAIL("the transfer of an item that is gone was reported done");
    } catch (const TransferError& error) {
        QCOMPARE(error.errorCase(), TransferError::Case::fileNotFound);
    } catch (...) {
        QFAIL("the transfer of an item that is gone did not fail as not found");
    }
    drainPostedEvents();

    QCOMPARE(treeOf(root(to) + QStringLiteral("/dst")), before);
    QVERIFY(m_prompter->questions.isEmpty());
    QCOMPARE(m_manager->transferHistory.value().size(), historyBefore + 1);
    const TransferHistoryEntry entry = m_manager->transferHistory.value().front();
    QCOMPARE(entry.state(), TransferState::failed);
    const Transfer record = m_manager->completedTransfers.value().front();
    QCOMPARE(record.state, TransferState::failed);
    QVERIFY(record.error && record.error->errorCase() == TransferError::Case::fileNotFound);
    QVERIFY(record.reportURL);
    QVERIFY(QString::fromUtf8(fileContents(record.reportURL->toLocalFile()))
                .contains(QStringLiteral("State: ") + TransferState(TransferState::failed).rawValue()));
    const QStringList failures = logs.messages(LogCapture::category(QStringLiteral("transfer")))
                                     .filter(QStringLiteral("Transfer failed for ") + name);
    QCOMPARE(failures.size(), 1);
    // A sentence, not the form the history stores.
    QVERIFY2(failures.front().startsWith(QStringLiteral("Transfer failed for ") + name +
                                         QStringLiteral(": File not found: ")),
             qPrintable(failures.front()));
}

ORVANTA_DEVICE_TEST_MAIN(tst_TransferManager)
#include "tst_TransferManager.moc"
