// Two running instances of the program share one data folder: one is killed in the middle of a
// Replace while the other keeps copying. The other never takes the first one's entries for
// leftovers while it lives, and puts its item back once it is gone.
//
// The first instance is this test program run again as a child process: with
// ORVANTA_TEST_SET_ASIDE set it sets that file aside as a Replace does, prints the hidden name and
// waits to be killed. With ORVANTA_TEST_COPY_AND_HOLD set it copies one file onto this computer
// and holds in the middle of it.

#include "device/AFCBridge.h"
#include "device/AFCPath.h"
#include "device/LeftoverJournal.h"
#include "platform/async/RunSync.h"
#include "platform/async/SerialExecutor.h"
#include "transfer/LocalLeftovers.h"
#include "transfer/LocalTransferFiles.h"
#include "transfer/TransferPlacement.h"

#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <cstdio>
#include <unistd.h>

namespace {

const char* const childVariable = "ORVANTA_TEST_SET_ASIDE";
// "device" or "mac", the source's path and the target's, a line each.
const char* const copyVariable = "ORVANTA_TEST_COPY_AND_HOLD";

void waitForTheEndOfInput() {
    char byte = 0;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
}

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

int setAsideAndWait(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto executor = std::make_shared<async::SerialExecutor>();
    TransferPlacement placement(nullptr, nullptr, executor);
    const URL target = URL::fileURL(qEnvironmentVariable(childVariable));
    const TransferPlacement::Aside aside = async::runSync(placement.setAside(target));
    say(qPrintable(aside.hidden.toLocalFile()));
    // In the middle of its Replace until killed; a closed input means the test went away.
    waitForTheEndOfInput();
    return 0;
}

// Copies one file into a folder of the user's as a transfer does, and holds in the middle of it: a
// copy from the device on the read the device holds (the test's), until the device lets go; a
// copy from this computer in its report of the first chunk, until the input ends. Then it
// finishes.
int copyAndHold(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList parts = qEnvironmentVariable(copyVariable).split(QLatin1Char('\n'));
    if (parts.size() != 3)
        return 2;
    const std::shared_ptr<LeftoverJournal> journal = LeftoverJournal::shared();
    const QString mark = AFCPath::partialCopyMark();
    if (parts.at(0) == QLatin1String("device")) {
        AFCBridge bridge(journal);
        async::runSync(bridge.connect(TransferTestCase::udid));
        AFCCopyOptions options;
        options.replaceExisting = false;
        options.partialMark = mark;
        options.recordPartial = true;
        async::Task<quint64> copying =
            bridge.download(TransferTestCase::udid, parts.at(1), URL::fileURL(parts.at(2)), std::nullopt, {},
                            std::stop_token(), options);
        say("started");
        async::runSync(std::move(copying));
        return 0;
    }
    bool held = false;
    LocalTransferFiles::copyFile(
        parts.at(1), parts.at(2), [] { return qint64(64 * 1024); },
        [&held](quint64) {
            if (std::exchange(held, true))
                return;
            say("started");
            waitForTheEndOfInput();
        },
        false, std::stop_token(), false, mark, journal.get());
    return 0;
}

// Starts this program again as another instance, doing what value says in the mode variable
// names, and returns the first line it prints (empty when it printed none).
QByteArray startInstance(QProcess& process, const char* variable, const QString& value) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(variable), value);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), {});
    if (!process.waitForStarted())
        return {};
    // Bounded only so that a broken child cannot hang the test; the line is the synchronisation.
    while (!process.canReadLine() && process.state() == QProcess::Running) {
        if (!process.waitForReadyRead(30000))
            return {};
    }
    return process.readLine().trimmed();
}

QStringList partialCopiesIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral(".orvanta-partial-*")}, QDir::Files | QDir::Hidden);
}

} // namespace

class tst_TwoInstances : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init() { setUpTransfers(); }
    void cleanup() { tearDownTransfers(); }

    void aLiveInstancesEntriesAreItsOwnUntilItDies();
    void aKilledCopysPartialFileGoesAtTheNextStart_data();
    void aKilledCopysPartialFileGoesAtTheNextStart();
};

void tst_TwoInstances::aLiveInstancesEntriesAreItsOwnUntilItDies() {
    const QString destination = m_mac + QStringLiteral("/dst");
    QVERIFY(writeTestFile(destination + QStringLiteral("/Report.txt"), "the first one's"));
    QVERIFY(writeTestFile(destination + QStringLiteral("/Notes.txt"), "old"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Notes.txt"), "new"));

    QProcess first;
    const QString hidden = QString::fromLocal8Bit(
        startInstance(first, childVariable, destination + QStringLiteral("/Report.txt")));
    QVERIFY(QFileInfo(hidden).fileName().startsWith(QStringLiteral(".orvanta-aside-")));
    QCOMPARE(fileContents(hidden), QByteArray("the first one's"));

    // This instance copies on, with a Replace of its own, and runs the clean-up of a start.
    m_prompter->answers = {answer(ConflictResolution::replace)};
    const Transfer done =
        transfer({item(Side::mac, QStringLiteral("/src/Notes.txt"))}, location(Side::mac, QStringLiteral("/dst")));
    QCOMPARE(done.state, TransferState::completed);
    const std::shared_ptr<LeftoverJournal> journal = LeftoverJournal::shared();
    LocalLeftovers::recover(*journal);
    QVERIFY(journal->entries().isEmpty());
    QCOMPARE(fileContents(hidden), QByteArray("the first one's"));
    QVERIFY(!QFileInfo::exists(destination + QStringLiteral("/Report.txt")));

    first.kill();
    QVERIFY(first.waitForFinished(30000));
    LocalLeftovers::recover(*journal);

    QCOMPARE(treeOf(destination), (QStringList{"Notes.txt 3", "Report.txt 15"}));
    QCOMPARE(fileContents(destination + QStringLiteral("/Report.txt")), QByteArray("the first one's"));
    QVERIFY(journal->entries().isEmpty());
    // Nothing of the first instance is left in the data folder.
    const QString own = QFileInfo(journal->ownFile()).fileName();
    QStringList others = QDir(QFileInfo(journal->ownFile()).absolutePath())
                             .entryList(QDir::Files | QDir::Hidden)
                             .filter(QStringLiteral("Leftovers.jsonl"));
    others.removeAll(own);
    others.removeAll(own + QStringLiteral(".lock"));
    QCOMPARE(others, QStringList());
}

void tst_TwoInstances::aKilledCopysPartialFileGoesAtTheNextStart_data() {
    QTest::addColumn<Side>("from");
    QTest::addColumn<bool>("killed"); // else it copies on while this instance starts
    QTest::newRow("from the device, killed") << Side::device << true;
    QTest::newRow("from the device, still copying") << Side::device << false;
    QTest::newRow("from this computer, killed") << Side::mac << true;
    QTest::newRow("from this computer, still copying") << Side::mac << false;
}

// An instance killed in the middle of a copy onto this computer leaves its hidden partial file;
// the next start removes it, and nothing else in the folder. The partial file of an instance that
// still copies is its own: the start leaves it, and that copy ends whole.
void tst_TwoInstances::aKilledCopysPartialFileGoesAtTheNextStart() {
    QFETCH(Side, from);
    QFETCH(bool, killed);
    const QByteArray bytes = patternBytes(3 * 1024 * 1024);
    const QString destination = m_mac + QStringLiteral("/dst");
    QVERIFY(writeTestFile(destination + QStringLiteral("/Notes.txt"), "the user's"));
    QVERIFY(writeTestFile(root(from) + QStringLiteral("/src/clip.mov"), bytes));
    if (from == Side::device)
        m_device->faults().gateReads(AFCBridge::chunkBytes);
    const QString source =
        from == Side::device ? QStringLiteral("/src/clip.mov") : m_mac + QStringLiteral("/src/clip.mov");

    QProcess other;
    const QString task = QStringList{from == Side::device ? QStringLiteral("device") : QStringLiteral("mac"),
                                     source, destination + QStringLiteral("/clip.mov")}
                             .join(QLatin1Char('\n'));
    QCOMPARE(startInstance(other, copyVariable, task), QByteArray("started"));
    // The device holds the second read: the partial file, made after the first, is there.
    if (from == Side::device)
        QVERIFY(m_device->faults().waitUntilReadHeld());
    const QStringList partials = partialCopiesIn(destination);
    QCOMPARE(partials.size(), 1);
    if (killed) {
        other.kill();
        QVERIFY(other.waitForFinished(30000));
        m_device->faults().releaseReads();
    }

    const std::shared_ptr<LeftoverJournal> journal = LeftoverJournal::shared();
    LocalLeftovers::recover(*journal);
    if (killed) {
        QCOMPARE(treeOf(destination), QStringList{"Notes.txt 10"});
        QVERIFY(journal->entries().isEmpty());
        return;
    }
    QCOMPARE(partialCopiesIn(destination), partials);
    m_device->faults().releaseReads();
    other.closeWriteChannel();
    QVERIFY(other.waitForFinished(30000));
    QCOMPARE(other.exitStatus(), QProcess::NormalExit);
    QCOMPARE(other.exitCode(), 0);
    QCOMPARE(treeOf(destination), (QStringList{"Notes.txt 10", "clip.mov 3145728"}));
    QCOMPARE(fileContents(destination + QStringLiteral("/clip.mov")), bytes);
    // A copy that ended leaves no entry behind.
    LocalLeftovers::recover(*journal);
    QVERIFY(journal->entries().isEmpty());
}

#define main testMain
ORVANTA_DEVICE_TEST_MAIN(tst_TwoInstances)
#undef main

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(childVariable))
        return setAsideAndWait(argc, argv);
    if (qEnvironmentVariableIsSet(copyVariable))
        return copyAndHold(argc, argv);
    return testMain(argc, argv);
}

#include "tst_TwoInstances.moc"
