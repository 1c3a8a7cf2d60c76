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
        QTest::newRow("half rounds to even, up") << quint64(1500) << "2 KB";
        QTest::newRow("one decimal of a megabyte") << quint64(3400000) << "3.4 MB";
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
