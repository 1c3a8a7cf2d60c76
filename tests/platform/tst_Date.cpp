#include "platform/Date.h"

#include <QTest>

class tst_Date : public QObject {
    Q_OBJECT

private slots:
    void anchorsAtReferenceDate_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QDateTime>("utc");

        QTest::newRow("before reference") << -86400.0 << QDateTime(QDate(2000, 12, 31), QTime(0, 0), Qt::UTC);
        QTest::newRow("with milliseconds")
            << 1.5 << QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 500), Qt::UTC);
        // Foundation names this 0001-01-01 in the Julian calendar; QDate counts proleptic Gregorian
        // without a year 0.
        QTest::newRow("distant past") << Date::distantPast().secondsSinceReferenceDate()
                                      << QDateTime(QDate(-1, 12, 30), QTime(0, 0), Qt::UTC);
    }

    void anchorsAtReferenceDate() {
        QFETCH(double, seconds);
        QFETCH(QDateTime, utc);
        QCOMPARE(Date(seconds).toQDateTime(), utc);
        QCOMPARE(Date::fromQDateTime(utc), Date(seconds));
        QCOMPARE(Date(seconds).secondsSince1970(), utc.toMSecsSinceEpoch() / 1000.0);
    }
};

QTEST_GUILESS_MAIN(tst_Date)
#include "tst_Date.moc"
