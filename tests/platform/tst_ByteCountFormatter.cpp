#include "platform/ByteCountFormatter.h"

#include <QTest>

#include <limits>

// Sizes as the file browser shows them: the unit from the exact value, halves rounded to even on
// the integers (a double would miss 1.25 MB's half), trailing zeros dropped, thousands grouped.
class tst_ByteCountFormatter : public QObject {
    Q_OBJECT

private slots:
    void file_data() {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing") << quint64(0) << "Zero KB";
        QTest::newRow("one byte") << quint64(1) << "1 byte";
        QTest::newRow("first kilobyte") << quint64(1000) << "1 KB";
        QTest::newRow("half rounds to even, down") << quint64(2500) << "2 KB";
        QTest::newRow("half rounds to even, up") << quint64(1500) << "2 KB";
        QTest::newRow("unit from the exact value") << quint64(999999) << "1,000 KB";
        QTest::newRow("one decimal of a megabyte") << quint64(3400000) << "3.4 MB";
        QTest::newRow("megabyte half to even") << quint64(1250000) << "1.2 MB";
        QTest::newRow("trailing zero dropped") << quint64(1050000) << "1 MB";
        QTest::newRow("two decimals") << quint64(1234567890) << "1.23 GB";
        QTest::newRow("largest count") << std::numeric_limits<quint64>::max() << "18.45 EB";
    }

    void file() {
        QFETCH(quint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(ByteCountFormatter::file(bytes), text);
    }

    void negativeShowsAsNothing() {
        QCOMPARE(ByteCountFormatter::fileFromSigned(-5), QStringLiteral("Zero KB"));
    }
};

QTEST_GUILESS_MAIN(tst_ByteCountFormatter)
#include "tst_ByteCountFormatter.moc"
