// The speed a running transfer shows: measured over the last seconds and against now, so that it
// falls while nothing moves, is zero once nothing moved for a whole window, and is zero while a
// question about a name clash waits for its answer.

#include "transfer/TransferSpeed.h"

#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "platform/async/TaskHandle.h"
#include "transfer/TransferManager.h"

#include "EventLoop.h"
#include "TestFiles.h"
#include "TransferTestCase.h"

#include <QDir>
#include <QScopeGuard>
#include <QTest>

using namespace std::chrono_literals;

namespace {

constexpr quint64 mib = 1 << 20;

struct Record {
    int atMs;
    quint64 value;
};

} // namespace

Q_DECLARE_METATYPE(QList<Record>)

class tst_TransferSpeed : public TransferTestCase {
    Q_OBJECT

private slots:
    void initTestCase() { setUpTransferTestCase(); }
    void init() {
        setUpTransfers();
        m_tasksBefore = async::spawnedTasksRunning();
    }
    void cleanup() {
        // The speed's watch ends with its transfer, at its sleep: a task left asleep on the clock
        // would outlive the test.
        QTRY_COMPARE(async::spawnedTasksRunning(), m_tasksBefore);
        tearDownTransfers();
    }

    void speedOverTheWindow_data();
    void speedOverTheWindow();
    void stalledCopyFallsToNoSpeed();
    void questionShowsNoSpeed();
    void burstThenSilenceShowsItsLastValue_data();
    void burstThenSilenceShowsItsLastValue();
    void stalledDownloadShowsWhatIsOnDisk();

private:
    // A transfer of a large device file with its first megabyte done 10 ms after its start:
    // 100 MB/s, as a first chunk that came at once makes it.
    QUuid startedFast();
    double shownSpeed(const QUuid& id) const;
    quint64 shownBytes(const QUuid& id) const;
    // Steps the manual clock a second at a time, letting the speed's watch look each time.
    void passSeconds(int seconds);

    int m_tasksBefore = 0;
};

void tst_TransferSpeed::speedOverTheWindow_data() {
    QTest::addColumn<QList<Record>>("records");
    QTest::addColumn<int>("queryMs");
    QTest::addColumn<double>("expected"); // MiB per second
    QTest::newRow("steady") << QList<Record>{{0, 0}, {1000, mib}, {2000, 2 * mib}} << 2000 << 1.0;
    QTest::newRow("one value alone") << QList<Record>{{0, 5 * mib}} << 1000 << 0.0;
    QTest::newRow("falls while nothing moves") << QList<Record>{{0, 0}, {1000, mib}} << 2000 << 0.5;
    QTest::newRow("nothing for a whole window") << QList<Record>{{0, 0}, {1000, mib}} << 4001 << 0.0;
    QTest::newRow("only the window counts")
        << QList<Record>{{0, 0}, {1000, 10 * mib}, {4000, 11 * mib}, {5000, 12 * mib}} << 5000 << 0.5;
    QTest::newRow("values going back start again")
        << QList<Record>{{0, 0}, {1000, 4 * mib}, {1500, mib}} << 2000 << 0.0;
    QTest::newRow("no time passed") << QList<Record>{{0, 0}, {0, mib}} << 0 << 0.0;
}

void tst_TransferSpeed::speedOverTheWindow() {
    QFETCH(QList<Record>, records);
    QFETCH(int, queryMs);
    QFETCH(double, expected);
    async::ManualClock clock;
    TransferSpeed speed(clock);
    const QUuid id = QUuid::createUuid();
    const QUuid other = QUuid::createUuid();
    int now = 0;
    for (const Record& record : records) {
        clock.advance(std::chrono::milliseconds(record.atMs - now));
        now = record.atMs;
        speed.record(id, record.value);
        speed.record(other, 0);
    }
    clock.advance(std::chrono::milliseconds(queryMs - now));
    QCOMPARE(speed.bytesPerSecond(id) / double(mib), expected);
    QCOMPARE(speed.bytesPerSecond(other), 0.0);
    speed.forget(id);
    QCOMPARE(speed.bytesPerSecond(id), 0.0);
}

QUuid tst_TransferSpeed::startedFast() {
    const URL clip = location(Side::device, QStringLiteral("/clip.mov"));
    const FileItem source(clip.absoluteString(), clip.lastPathComponent(), clip, false, 200 * mib, Date::now(),
                          FileKind::video, std::nullopt);
    const Transfer transfer = m_manager->startTransfer({source}, location(Side::mac, QStringLiteral("/dst")));
    const std::function<void(quint64)> progress = m_manager->makeProgressHandler(transfer.id, 0);
    m_clock.advance(10ms);
    progress(mib);
    (void)QTest::qWaitFor(
        [this] { return m_manager->activeTransfers.value().front().progress.bytesTransferred == mib; });
    return transfer.id;
}

double tst_TransferSpeed::shownSpeed(const QUuid& id) const {
    for (const Transfer& transfer : m_manager->activeTransfers.value()) {
        if (transfer.id == id)
            return transfer.progress.bytesPerSecond;
    }
    return -1;
}

quint64 tst_TransferSpeed::shownBytes(const QUuid& id) const {
    for (const Transfer& transfer : m_manager->activeTransfers.value()) {
        if (transfer.id == id)
            return transfer.progress.bytesTransferred;
    }
    return 0;
}

void tst_TransferSpeed::passSeconds(int seconds) {
    for (int second = 0; second < seconds; ++second) {
        QTRY_VERIFY(m_clock.sleeperCount() > 0);
        m_clock.advance(1s);
        QCoreApplication::processEvents();
    }
    QTRY_VERIFY(m_clock.sleeperCount() > 0);
}

// The device stops after its first megabyte: the speed shown falls with every second that
// nothing moves, to none once a whole window passed, so no time remaining is estimated from it.
void tst_TransferSpeed::stalledCopyFallsToNoSpeed() {
    const QUuid id = startedFast();
    QCOMPARE(shownSpeed(id), 100.0 * mib);

    // A megabyte over the second since the start, then over three.
    passSeconds(1);
    const double afterOne = shownSpeed(id);
    QVERIFY2(afterOne > 0.9 * mib && afterOne <= 1.0 * mib, qPrintable(QString::number(afterOne)));
    passSeconds(2);
    const double afterThree = shownSpeed(id);
    QVERIFY2(afterThree > 0.3 * mib && afterThree < 0.34 * mib, qPrintable(QString::number(afterThree)));
    passSeconds(1);
    QCOMPARE(shownSpeed(id), 0.0);
    m_manager->cancelTransfer(id);
}

// While a clash waits for its answer nothing moves: the speed shown is none, and the wait does
// not count in the speed measured afterwards.
void tst_TransferSpeed::questionShowsNoSpeed() {
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/src/a.txt"), "new"));
    QVERIFY(writeTestFile(m_mac + QStringLiteral("/dst/a.txt"), "old"));
    const QUuid id = startedFast();
    double speedWhileAsked = -1;
    m_prompter->answers = {answer(ConflictResolution::keepBoth)};
    m_prompter->onAsk = [&] { speedWhileAsked = shownSpeed(id); };

    const URL placed = async::runSync(m_manager->resolveConflict(
        item(Side::mac, QStringLiteral("/src/a.txt")), location(Side::mac, QStringLiteral("/dst/a.txt")), id));
    QCOMPARE(m_prompter->questions, QStringList{QStringLiteral("a.txt")});
    QCOMPARE(placed.lastPathComponent(), QStringLiteral("a copy.txt"));
    QCOMPARE(speedWhileAsked, 0.0);
    QCOMPARE(shownSpeed(id), 0.0);
    m_manager->cancelTransfer(id);
}

void tst_TransferSpeed::burstThenSilenceShowsItsLastValue_data() {
    QTest::addColumn<QList<Record>>("burst"); // values handed to the progress handler
    QTest::addColumn<int>("silenceMs");
    QTest::addColumn<QList<quint64>>("shown"); // each value the transfer's record took, in order
    QTest::newRow("a burst within the interval, then nothing")
        << QList<Record>{{0, mib}, {20, 30 * mib}, {60, 100 * mib}} << 100 << QList<quint64>{mib, 100 * mib};
    QTest::newRow("the kept value waits out the interval")
        << QList<Record>{{0, mib}, {50, 2 * mib}} << 49 << QList<quint64>{mib};
}

// A copy that sends a burst and then goes silent shows the burst's last value once the throttle's
// interval has passed, never its first value for as long as the silence lasts.
void tst_TransferSpeed::burstThenSilenceShowsItsLastValue() {
    QFETCH(QList<Record>, burst);
    QFETCH(int, silenceMs);
    QFETCH(QList<quint64>, shown);
    const Transfer transfer = m_manager->startTransfer({item(Side::mac, QStringLiteral("/a.bin"))},
                                                       location(Side::mac, QStringLiteral("/dst")));
    const auto ending = qScopeGuard([&] { m_manager->cancelTransfer(transfer.id); });
    QList<quint64> written;
    const Subscription view = m_manager->activeTransfers.subscribe([&](const QList<Transfer>& list) {
        for (const Transfer& record : list) {
            const quint64 bytes = record.progress.bytesTransferred;
            if (record.id == transfer.id && bytes != 0 && (written.isEmpty() || written.last() != bytes))
                written.append(bytes);
        }
    });
    const std::function<void(quint64)> progress = m_manager->makeProgressHandler(transfer.id, 0);
    int now = 0;
    for (const Record& record : burst) {
        m_clock.advance(std::chrono::milliseconds(record.atMs - now));
        now = record.atMs;
        progress(record.value);
        drainPostedEvents();
    }
    m_clock.advance(std::chrono::milliseconds(silenceMs));
    drainPostedEvents();
    QCOMPARE(written, shown);
}

// The device stops sending in the middle of a file: the record shows the bytes already written
// to disk, not the first value of the burst before the stall.
void tst_TransferSpeed::stalledDownloadShowsWhatIsOnDisk() {
    QVERIFY(writeTestFile(m_media + QStringLiteral("/clip.mov"), patternBytes(8 * mib)));
    QVERIFY(QDir().mkpath(m_mac + QStringLiteral("/dst")));
    m_device->faults().gateReads(3 * mib);
    const Transfer started = launched({item(Side::device, QStringLiteral("/clip.mov"))},
                                      location(Side::mac, QStringLiteral("/dst")));
    const auto ending = qScopeGuard([&] {
        m_device->faults().releaseReads();
        m_manager->cancelTransfer(started.id);
        finished(started.id);
    });
    QVERIFY(readHeld());
    const auto onDisk = [this] {
        qint64 bytes = 0;
        const QDir folder(m_mac + QStringLiteral("/dst"));
        for (const QFileInfo& file : folder.entryInfoList(QDir::Files | QDir::Hidden))
            bytes += file.size();
        return bytes;
    };
    QTRY_COMPARE(onDisk(), qint64(3 * mib));
    drainPostedEvents();
    // Each step passes the interval once; a value that came late is shown one step later.
    QTRY_VERIFY([&] {
        m_clock.advance(100ms);
        drainPostedEvents();
        return shownBytes(started.id) == 3 * mib;
    }());
}

ORVANTA_DEVICE_TEST_MAIN(tst_TransferSpeed)
#include "tst_TransferSpeed.moc"
