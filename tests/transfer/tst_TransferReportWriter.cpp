#include "transfer/TransferReportWriter.h"

#include "device/AFCLocation.h"

#include "LogCapture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

Transfer sample() {
    Transfer transfer;
    transfer.id = QUuid(QStringLiteral("{0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d}"));
    transfer.destination =
        AFCLocation::mediaURL(QStringLiteral("00008110-001A2B3C4D5E6F70"), QStringLiteral("/DCIM"));
    transfer.startedAt = Date::fromSecondsSince1970(1733447790.123);
    transfer.state = TransferState::completed;
    transfer.progress.bytesTransferred = 1500;
    return transfer;
}

TransferReportEntry entry(const QString& name, quint64 bytes, TransferVerificationOutcome outcome,
                          std::optional<QString> detail) {
    return TransferReportEntry(name, URL::fileURL(QStringLiteral("/a/") + name),
                               URL::fileURL(QStringLiteral("/b/") + name), bytes, Date(), Date(), outcome,
                               std::move(detail));
}

} // namespace

// The report's file name and lines, which the Transfer Center opens and people read.
class tst_TransferReportWriter : public QObject {
    Q_OBJECT

private slots:
    void lines_data() {
        QTest::addColumn<bool>("completed");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<bool>("entries");
        QTest::addColumn<QStringList>("tail"); // the lines after "Sources: "
        QTest::newRow("no completion, no error, no files")
            << false << false << false << QStringList{"Verification: ", "Transferred: 2 KB", "", "Files"};
        QTest::newRow("error and files")
            << true << true << true
            << QStringList{"Verification: ",
                           "Transferred: 2 KB",
                           "Error: ioError(\"Disk \\\"A\\\" failed\")",
                           "",
                           "Files",
                           "- a.jpg | 1 byte | skipped",
                           "- b.jpg | 1,000 KB | mismatch (SHA-256 mismatch (x != y))"};
    }

    void lines() {
        QFETCH(bool, completed);
        QFETCH(bool, failed);
        QFETCH(bool, entries);
        QFETCH(QStringList, tail);
        Transfer transfer = sample();
        if (completed)
            transfer.completedAt = Date::fromSecondsSince1970(1733447800.5);
        if (failed)
            transfer.error = TransferError::ioError(QStringLiteral("Disk \"A\" failed"));
        if (entries) {
            transfer.reportEntries = {
                entry(QStringLiteral("a.jpg"), 1, TransferVerificationOutcome::skipped, std::nullopt),
                entry(QStringLiteral("b.jpg"), 999999, TransferVerificationOutcome::mismatch,
                      QStringLiteral("SHA-256 mismatch (x != y)"))};
        }
        QStringList expected{"Orvanta Transfer Report", "Transfer ID: 0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D",
                             "Started: 2024-12-06T01:16:30.123Z"};
        if (completed)
            expected << "Completed: 2024-12-06T01:16:40.500Z";
        expected << "State: completed"
                 << "Destination: /DCIM"
                 << "Sources: ";
        tail[0] += transfer.verificationSummary.summaryText();
        expected << tail;
        QCOMPARE(TransferReportWriter::reportText(transfer).split(QLatin1Char('\n')), expected);
        QVERIFY(!TransferReportWriter::reportText(transfer).endsWith(QLatin1Char('\n')));
    }

    void fileName_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("name");
        QTest::newRow("whole seconds keep a fraction")
            << 1733447790.0 << "transfer-1733447790.0-0A1B2C3D.txt";
    }

    void fileName() {
        QFETCH(double, seconds);
        QFETCH(QString, name);
        Transfer transfer = sample();
        transfer.startedAt = Date::fromSecondsSince1970(seconds);
        QCOMPARE(TransferReportWriter::fileName(transfer), name);
    }

    void unwritableFolderGivesNoReportAndALogLine() {
        // A file where the folder should be stops even a user who may write anywhere.
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("Orvanta")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        LogCapture log;
        QVERIFY(
            !TransferReportWriter::write(sample(), dir.filePath(QStringLiteral("Orvanta/TransferReports"))));
        QCOMPARE(log.messages(LogCapture::category(QStringLiteral("transfer"))).size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_TransferReportWriter)
#include "tst_TransferReportWriter.moc"
