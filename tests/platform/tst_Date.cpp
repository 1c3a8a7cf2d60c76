#include "platform/Date.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

class tst_Date : public QObject {
    Q_OBJECT

private slots:
    void anchorsAtReferenceDate_data();
    void anchorsAtReferenceDate();
    void survivesJsonNumber_data();
    void survivesJsonNumber();
};

void tst_Date::anchorsAtReferenceDate_data() {
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QDateTime>("utc");

    QTest::newRow("reference date") << 0.0 << QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    QTest::newRow("before reference") << -86400.0 << QDateTime(QDate(2000, 12, 31), QTime(0, 0), Qt::UTC);
    QTest::newRow("with milliseconds") << 1.5 << QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 500), Qt::UTC);
    // Foundation names this 0001-01-01 in the Julian calendar; QDate counts proleptic Gregorian
    // without a year 0.
    QTest::newRow("distant past") << Date::distantPast().secondsSinceReferenceDate()
                                  << QDateTime(QDate(-1, 12, 30), QTime(0, 0), Qt::UTC);
}

void tst_Date::anchorsAtReferenceDate() {
    QFETCH(double, seconds);
    QFETCH(QDateTime, utc);
    QCOMPARE(Date(seconds).toQDateTime(), utc);
    QCOMPARE(Date::fromQDateTime(utc), Date(seconds));
    QCOMPARE(Date(seconds).secondsSince1970(), utc.toMSecsSinceEpoch() / 1000.0);
}

void tst_Date::survivesJsonNumber_data() {
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QByteArray>("json");

    QTest::newRow("zero") << 0.0 << QByteArray(R"({"d":0})");
    QTest::newRow("negative") << -12.25 << QByteArray(R"({"d":-12.25})");
    QTest::newRow("sub-millisecond fraction") << 745678901.123456789 << QByteArray();
    QTest::newRow("distant past") << -63114076800.0 << QByteArray(R"({"d":-63114076800})");
}

// Records store dates as the plain number; a date read back must equal the one written, to the
// last bit, or equality of history entries breaks after a reload.
void tst_Date::survivesJsonNumber() {
    QFETCH(double, seconds);
    QFETCH(QByteArray, json);
    const Date written(seconds);
    const QByteArray encoded =
        QJsonDocument(QJsonObject{{"d", written.secondsSinceReferenceDate()}}).toJson(QJsonDocument::Compact);
    if (!json.isEmpty())
        QCOMPARE(encoded, json);
    const Date read(QJsonDocument::fromJson(encoded).object().value("d").toDouble());
    QCOMPARE(read, written);
}

QTEST_GUILESS_MAIN(tst_Date)
#include "tst_Date.moc"
