#include "transfer/TransferManager.h"

#include "models/TransferReportEntry.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/async/Cancellation.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "transfer/TransferHistoryStore.h"
#include "transfer/TransferReportWriter.h"

#include "EventLoop.h"
#include "TemporaryDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

using namespace std::chrono_literals;

namespace {

FileItem fileItem(const QString& path) {
    const URL url = URL::fileURL(path);
    return FileItem(url.toLocalFile(), url.lastPathComponent(), url, false, 1, Date::now(), FileKind::other,
                    std::nullopt);
}

async::Task<void> waitQuietly(TransferManager* manager, QUuid id) {
    try {
        co_await manager->waitForTransfer(id);
    } catch (const async::CancelledError&) {
        // Each transfer here ends cancelled.
    }
}

} // namespace

// What one copied file costs the transfer manager must not grow with the files copied before it:
// a camera roll of tens of thousands of photos is the ordinary case. Counted, not timed.
class tst_TransferProgressCost : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_home.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("data"))));
        UserDefaults::setStandardFilePathForTesting(m_home.filePath(QStringLiteral("defaults.plist")));
    }

    // Two transfers run side by side while a view keeps every list published, as the progress
    // panel does. Each file of the first one adds a report line; each is followed by progress of
    // the second. No line already in a report is ever copied, and the finished record holds
    // every line in order.
    void recordedFilesAndProgressCopyNoEarlierLines_data() {
        QTest::addColumn<int>("files");
        QTest::newRow("a few") << 3;
        QTest::newRow("a camera roll's first thousand") << 1000;
    }

    void recordedFilesAndProgressCopyNoEarlierLines() {
        QFETCH(int, files);
        TemporaryDefaults defaults;
        async::ManualClock clock;
        NotificationCenter notifications;
        TransferManager manager(defaults.store(), clock, notifications);
        QList<QList<Transfer>> heldByView;
        const Subscription view =
            manager.activeTransfers.subscribe([&heldByView](const QList<Transfer>& list) { heldByView.append(list); });

        const QString folder = m_home.filePath(QStringLiteral("roll"));
        const Transfer photos = manager.startTransfer({fileItem(folder + QStringLiteral("/a"))},
                                                      URL::fileURL(m_home.path(), true));
        const Transfer other = manager.startTransfer({fileItem(folder + QStringLiteral("/b"))},
                                                     URL::fileURL(m_home.path(), true));
        const std::function<void(quint64)> otherProgress = manager.makeProgressHandler(other.id, 0);

        const quint64 copiesBefore = TransferReportEntry::copyCount();
        for (int index = 0; index < files; ++index) {
            const URL source = URL::fileURL(folder + QStringLiteral("/IMG_%1.JPG").arg(index));
            const URL copy = URL::fileURL(m_home.filePath(QStringLiteral("IMG_%1.JPG").arg(index)));
            async::runSync(manager.recordCompletedFile(photos.id, source, copy, Date::now(), 1), 10s);
            clock.advance(100ms);
            otherProgress(quint64(index + 1));
            drainPostedEvents();
        }
        QCOMPARE(TransferReportEntry::copyCount() - copiesBefore, quint64(0));
        QVERIFY(heldByView.size() > files);
        QCOMPARE(manager.activeTransfers.value().at(1).progress.bytesTransferred, quint64(files));

        manager.cancelTransfer(photos.id);
        manager.cancelTransfer(other.id);
        const QList<Transfer>& done = manager.completedTransfers.value();
        QCOMPARE(done.size(), 2);
        const Transfer& finished = done.at(1);
        QCOMPARE(finished.id, photos.id);
        QCOMPARE(finished.reportEntries.size(), files);
        QCOMPARE(finished.reportEntries.first().name(), QStringLiteral("IMG_0.JPG"));
        QCOMPARE(finished.reportEntries.last().name(), QStringLiteral("IMG_%1.JPG").arg(files - 1));
        QVERIFY(done.at(0).reportEntries.isEmpty());
    }

    // A finished transfer's history entry is encoded away from the main thread (an entry names
    // every source). Finishes back to back, and a manager destroyed before the encoding came
    // back, still leave the whole history stored, newest first; an awaited transfer is in it.
    void historyWrittenInTheBackgroundIsWhole_data() {
        QTest::addColumn<bool>("destroyAtOnce");
        QTest::newRow("awaited") << false;
        QTest::newRow("manager destroyed at once") << true;
    }

    void historyWrittenInTheBackgroundIsWhole() {
        QFETCH(bool, destroyAtOnce);
        TemporaryDefaults defaults;
        async::ManualClock clock;
        NotificationCenter notifications;
        auto manager = std::make_unique<TransferManager>(defaults.store(), clock, notifications);
        const URL destination = URL::fileURL(m_home.path(), true);
        QList<QUuid> started;
        std::vector<async::Task<void>> waits;
        for (int index = 0; index < 3; ++index) {
            const Transfer transfer = manager->startTransfer(
                {fileItem(m_home.filePath(QStringLiteral("source%1").arg(index)))}, destination);
            started.prepend(transfer.id);
            async::Task<void> waiting = waitQuietly(manager.get(), transfer.id);
            waits.push_back(std::move(waiting));
        }
        QList<QUuid> newestFirst;
        for (const QUuid& id : std::as_const(started)) {
            manager->cancelTransfer(id);
            newestFirst.prepend(id);
        }
        if (destroyAtOnce)
            manager.reset();
        // Each waiter wakes once the history that holds its transfer is stored.
        for (async::Task<void>& waiting : waits)
            async::runSync(std::move(waiting), 10s);
        QList<QUuid> stored;
        for (const TransferHistoryEntry& entry : TransferHistoryStore(defaults.reopen()).load())
            stored.append(entry.id());
        QCOMPARE(stored, newestFirst);
    }

    // A finished transfer's report, a line for each file, is written away from the main thread:
    // the record and the history entry name it once it is there, and not before. Finishes back to
    // back and a manager destroyed before the writing came back still leave every report written
    // and named in the stored history; a report that cannot be written is named nowhere.
    void reportWrittenInTheBackgroundIsNamedOnceThere_data() {
        QTest::addColumn<int>("transfers");
        QTest::addColumn<int>("files");
        QTest::addColumn<QString>("ending");
        QTest::newRow("awaited") << 1 << 3 << "await";
        QTest::newRow("three back to back, awaited") << 3 << 3 << "await";
        QTest::newRow("manager destroyed at once") << 3 << 3 << "destroy";
        QTest::newRow("the reports' folder cannot be made") << 1 << 3 << "unwritable";
        // A big transfer hands the allocator's free memory back before its waiters wake.
        QTest::newRow("a thousand lines, awaited") << 1 << 1000 << "await";
        QTest::newRow("a thousand lines, manager destroyed at once") << 1 << 1000 << "destroy";
    }

    void reportWrittenInTheBackgroundIsNamedOnceThere() {
        QFETCH(int, transfers);
        QFETCH(int, files);
        QFETCH(QString, ending);
        const QString reports = TransferReportWriter::reportsDirectory();
        const QString reportsParent = QFileInfo(reports).absolutePath();
        QDir(reportsParent).removeRecursively();
        if (ending == QLatin1String("unwritable")) {
            // A file where the folder of the reports' folder should be.
            QVERIFY(QDir().mkpath(QFileInfo(reportsParent).absolutePath()));
            QFile blocker(reportsParent);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        TemporaryDefaults defaults;
        async::ManualClock clock;
        NotificationCenter notifications;
        auto manager = std::make_unique<TransferManager>(defaults.store(), clock, notifications);
        const QString folder = m_home.filePath(QStringLiteral("roll"));
        std::vector<async::Task<void>> waits;
        QList<QUuid> ids;
        for (int index = 0; index < transfers; ++index) {
            const Transfer transfer = manager->startTransfer({fileItem(folder + QStringLiteral("/a"))},
                                                             URL::fileURL(m_home.path(), true));
            ids.append(transfer.id);
            for (int file = 0; file < files; ++file) {
                const URL source = URL::fileURL(folder + QStringLiteral("/IMG_%1.JPG").arg(file));
                const URL copy = URL::fileURL(m_home.filePath(QStringLiteral("IMG_%1.JPG").arg(file)));
                async::runSync(manager->recordCompletedFile(transfer.id, source, copy, Date::now(), 1), 10s);
            }
            async::Task<void> waiting = waitQuietly(manager.get(), transfer.id);
            waits.push_back(std::move(waiting));
        }
        for (const QUuid& id : std::as_const(ids))
            manager->cancelTransfer(id);
        // Finished, and nothing names a report that may not be written yet.
        const QList<Transfer> finished = manager->completedTransfers.value();
        QCOMPARE(finished.size(), transfers);
        for (const Transfer& record : finished) {
            QVERIFY(!record.reportURL);
            QCOMPARE(record.reportEntries.size(), files);
        }
        for (const TransferHistoryEntry& entry : manager->transferHistory.value())
            QVERIFY(!entry.reportURLString());

        if (ending == QLatin1String("destroy"))
            manager.reset();
        for (async::Task<void>& waiting : waits)
            async::runSync(std::move(waiting), 10s);
        drainPostedEvents();

        QHash<QUuid, std::optional<QString>> stored;
        for (const TransferHistoryEntry& entry : TransferHistoryStore(defaults.reopen()).load())
            stored.insert(entry.id(), entry.reportURLString());
        QCOMPARE(stored.size(), transfers);
        for (const Transfer& record : finished) {
            const QString path = reports + QLatin1Char('/') + TransferReportWriter::fileName(record);
            if (ending == QLatin1String("unwritable")) {
                QVERIFY(!QFileInfo::exists(path));
                QVERIFY(!stored.value(record.id));
                QVERIFY(!manager->completedTransfers.value().first().reportURL);
                continue;
            }
            QFile report(path);
            QVERIFY2(report.open(QIODevice::ReadOnly), qPrintable(path));
            QCOMPARE(QString::fromUtf8(report.readAll()), TransferReportWriter::reportText(record));
            const QString url = URL::fileURL(path).absoluteString();
            QCOMPARE(stored.value(record.id), std::optional<QString>(url));
            if (!manager)
                continue;
            for (const Transfer& named : manager->completedTransfers.value()) {
                if (named.id != record.id)
                    continue;
                QCOMPARE(named.reportURL, std::optional<URL>(URL::fileURL(path)));
                // A camera roll's lines are in its report on disk, no longer in memory; a few
                // files keep theirs.
                QCOMPARE(named.reportEntries.size(), files >= 1000 ? 0 : files);
            }
            for (const TransferHistoryEntry& entry : manager->transferHistory.value()) {
                if (entry.id() == record.id)
                    QCOMPARE(entry.reportURLString(), std::optional<QString>(url));
            }
        }
        if (ending == QLatin1String("unwritable"))
            QVERIFY(QFile::remove(reportsParent));
    }

private:
    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(tst_TransferProgressCost)
#include "tst_TransferProgressCost.moc"
