#include "models/TransferVerificationSummary.h"

#include <QTest>

class tst_TransferVerificationSummary : public QObject {
    Q_OBJECT

private slots:
    void summaryText_data() {
        QTest::addColumn<bool>("requested");
        QTest::addColumn<qint64>("verified");
        QTest::addColumn<qint64>("mismatched");
        QTest::addColumn<qint64>("failed");
        QTest::addColumn<qint64>("skipped");
        QTest::addColumn<QString>("text");

        QTest::newRow("not requested hides mismatches")
            << false << 0LL << 5LL << 0LL << 0LL << "Not requested";
        QTest::newRow("only skipped") << true << 0LL << 0LL << 0LL << 7LL << "No verifiable files";
        QTest::newRow("mismatches hide the rest") << true << 9LL << 2LL << 1LL << 0LL << "2 mismatches";
        QTest::newRow("one mismatch") << true << 0LL << 1LL << 0LL << 0LL << "1 mismatch";
        QTest::newRow("failures hide successes")
            << true << 9LL << 0LL << 1LL << 0LL << "1 verification failure";
        QTest::newRow("many verified, no grouping")
            << true << 12345LL << 0LL << 0LL << 3LL << "12345 verified";
        QTest::newRow("negative counts count as none")
            << true << -1LL << -2LL << -3LL << 0LL << "No verifiable files";
    }

    void summaryText() {
        QFETCH(bool, requested);
        QFETCH(qint64, verified);
        QFETCH(qint64, mismatched);
        QFETCH(qint64, failed);
        QFETCH(qint64, skipped);
        QFETCH(QString, text);
        const TransferVerificationSummary summary{requested, verified, mismatched, failed, skipped};
        QCOMPARE(summary.summaryText(), text);
    }
};

QTEST_GUILESS_MAIN(tst_TransferVerificationSummary)
#include "tst_TransferVerificationSummary.moc"
