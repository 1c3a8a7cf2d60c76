// The dates as the views show them: both forms around noon and midnight, single and double
// digits, and the unknown date.

#include "platform/DateFormat.h"

#include <QTest>

class tst_DateFormat : public QObject {
    Q_OBJECT

private slots:
    void forms_data() {
        QTest::addColumn<QDateTime>("local");
        QTest::addColumn<QString>("medium");
        QTest::addColumn<QString>("shortForm");
        const QString nnbsp(QChar(0x202F));
        const auto at = [](int y, int m, int d, int h, int min) {
            return QDateTime(QDate(y, m, d), QTime(h, min));
        };
        QTest::newRow("just after midnight")
            << at(2026, 12, 31, 0, 1) << "Dec 31, 2026 at 12:01" + nnbsp + "AM"
            << "12/31/26, 12:01" + nnbsp + "AM";
        QTest::newRow("noon") << at(2009, 1, 9, 12, 0) << "Jan 9, 2009 at 12:00" + nnbsp + "PM"
                              << "1/9/09, 12:00" + nnbsp + "PM";
    }

    void forms() {
        QFETCH(QDateTime, local);
        QFETCH(QString, medium);
        QFETCH(QString, shortForm);
        const Date date = Date::fromQDateTime(local);
        QCOMPARE(DateFormat::mediumShort(date), medium);
        QCOMPARE(DateFormat::shortShort(date), shortForm);
    }

    // Decided by the stored value, never by the year a calendar makes of it.
    void unknownDates_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<bool>("unknown");
        QTest::newRow("distant past") << -63114076800.0 << true;
        QTest::newRow("a second after it") << -63114076799.0 << false;
        QTest::newRow("the reference date") << 0.0 << false;
    }

    void unknownDates() {
        QFETCH(double, seconds);
        QFETCH(bool, unknown);
        const Date date(seconds);
        QCOMPARE(DateFormat::mediumShort(date) == u"--", unknown);
        QCOMPARE(DateFormat::shortShort(date) == u"--", unknown);
    }
};

QTEST_MAIN(tst_DateFormat)
#include "tst_DateFormat.moc"
