#include "models/JsonDecodingError.h"
#include "models/TransferVerificationSummary.h"

#include <QJsonObject>
#include <QTest>

class tst_TransferVerificationSummary : public QObject {
    Q_OBJECT

private slots:
    void summaryText_data();
    void summaryText();
    void recordCountsEachOutcome();
    void jsonRoundTrips();
    void decodingNeedsEveryKey_data();
    void decodingNeedsEveryKey();
};

void tst_TransferVerificationSummary::summaryText_data() {
    QTest::addColumn<bool>("requested");
    QTest::addColumn<qint64>("verified");
    QTest::addColumn<qint64>("mismatched");
    QTest::addColumn<qint64>("failed");
    QTest::addColumn<qint64>("skipped");
    QTest::addColumn<QString>("text");

    QTest::newRow("not requested hides mismatches") << false << 0LL << 5LL << 0LL << 0LL << "Not requested";
    QTest::newRow("only skipped") << true << 0LL << 0LL << 0LL << 7LL << "No verifiable files";
    QTest::newRow("mismatches hide the rest") << true << 9LL << 2LL << 1LL << 0LL << "2 mismatches";
    QTest::newRow("one mismatch") << true << 0LL << 1LL << 0LL << 0LL << "1 mismatch";
    QTest::newRow("failures hide successes") << true << 9LL << 0LL << 1LL << 0LL << "1 verification failure";
    QTest::newRow("failures plural") << true << 0LL << 0LL << 2LL << 0LL << "2 verification failures";
    QTest::newRow("one verified") << true << 1LL << 0LL << 0LL << 0LL << "1 verified";
    QTest::newRow("many verified, no grouping") << true << 12345LL << 0LL << 0LL << 3LL << "12345 verified";
    QTest::newRow("negative counts count as none")
        << true << -1LL << -2LL << -3LL << 0LL << "No verifiable files";
}

void tst_TransferVerificationSummary::summaryText() {
    QFETCH(bool, requested);
    QFETCH(qint64, verified);
    QFETCH(qint64, mismatched);
    QFETCH(qint64, failed);
    QFETCH(qint64, skipped);
    QFETCH(QString, text);
    const TransferVerificationSummary summary{requested, verified, mismatched, failed, skipped};
    QCOMPARE(summary.summaryText(), text);
}

void tst_TransferVerificationSummary::recordCountsEachOutcome() {
    TransferVerificationSummary summary{true};
    summary.record(TransferVerificationOutcome::skipped);
    QCOMPARE(summary.summaryText(), QStringLiteral("No verifiable files"));
    summary.record(TransferVerificationOutcome::verified);
    summary.record(TransferVerificationOutcome::failed);
    summary.record(TransferVerificationOutcome::mismatch);
    summary.record(TransferVerificationOutcome::mismatch);
    QCOMPARE(summary, (TransferVerificationSummary{true, 1, 2, 1, 1}));
}

void tst_TransferVerificationSummary::jsonRoundTrips() {
    const TransferVerificationSummary summary{true, 3, 2, 1, 4};
    QCOMPARE(TransferVerificationSummary::fromJson(summary.toJson()), summary);
}

void tst_TransferVerificationSummary::decodingNeedsEveryKey_data() {
    QTest::addColumn<QString>("key");
    for (const char* key : {"requested", "verifiedFiles", "mismatchedFiles", "failedFiles", "skippedFiles"})
        QTest::newRow(key) << QString::fromLatin1(key);
}

void tst_TransferVerificationSummary::decodingNeedsEveryKey() {
    QFETCH(QString, key);
    QJsonObject json = TransferVerificationSummary{true, 1, 0, 0, 0}.toJson();
    json.remove(key);
    QVERIFY_THROWS_EXCEPTION(JsonDecodingError, TransferVerificationSummary::fromJson(json));
    json.insert(key, QStringLiteral("1"));
    QVERIFY_THROWS_EXCEPTION(JsonDecodingError, TransferVerificationSummary::fromJson(json));
}

QTEST_GUILESS_MAIN(tst_TransferVerificationSummary)
#include "tst_TransferVerificationSummary.moc"
