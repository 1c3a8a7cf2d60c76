// Two running instances of the program share one data folder: one is killed in the middle of a
// Replace while the other keeps copying. The other never takes the first one's entries for
// leftovers while it lives, and puts its item back once it is gone.
//
// The first instance is this test program run again as a child process: with
// ORVANTA_TEST_SET_ASIDE set it sets that file aside as a Replace does, prints the hidden name and
// waits to be killed.

#include "device/LeftoverJournal.h"
#include "platform/async/RunSync.h"
#include "platform/async/SerialExecutor.h"
#include "transfer/LocalLeftovers.h"
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

int setAsideAndWait(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto executor = std::make_shared<async::SerialExecutor>();
    TransferPlacement placement(nullptr, nullptr, executor);
    const URL target = URL::fileURL(qEnvironmentVariable(childVariable));
    const TransferPlacement::Aside aside = async::runSync(placement.setAside(target));
    std::printf("%s\n", qPrintable(aside.hidden.toLocalFile()));
    std::fflush(stdout);
    // In the middle of its Replace until killed; a closed input means the test went away.
    char byte = 0;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}

} // namespace

class tst_TwoInstances : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init() { setUpTransfers(); }
    void cleanup() { tearDownTransfers(); }

    void aLiveInstancesEntriesAreItsOwnUntilItDies();
};

void tst_TwoInstances::aLiveInstancesEntriesAreItsOwnUntilItDies() {
    const QString destination = m_mac + QStringLiteral("/dst");
    QVERIFY(writeTestFile(destination + QStringLiteral("/Report.txt"), "the first one's"));
    QVERIFY(writeTestFile(destination + QStringLiteral("/Notes.txt"), "old"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/Notes.txt"), "new"));

    QProcess first;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(childVariable), destination + QStringLiteral("/Report.txt"));
    first.setProcessEnvironment(environment);
    first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    first.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(first.waitForStarted());
    // Bounded only so that a broken child cannot hang the test; the line is the synchronisation.
    while (!first.canReadLine() && first.state() == QProcess::Running)
        QVERIFY(first.waitForReadyRead(30000));
    const QString hidden = QString::fromLocal8Bit(first.readLine()).trimmed();
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

#define main testMain
ORVANTA_DEVICE_TEST_MAIN(tst_TwoInstances)
#undef main

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(childVariable))
        return setAsideAndWait(argc, argv);
    return testMain(argc, argv);
}

#include "tst_TwoInstances.moc"
