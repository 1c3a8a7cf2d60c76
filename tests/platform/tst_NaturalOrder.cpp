#include "platform/NaturalOrder.h"

#include <QTest>

class tst_NaturalOrder : public QObject {
    Q_OBJECT

private slots:
    void compares_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");

        const auto row = [](const char* name, const char* a, const char* b, int expected) {
            QTest::newRow(name) << QString::fromUtf8(a) << QString::fromUtf8(b) << expected;
        };
        row("number by value, several runs", "IMG_9_2", "IMG_9_10", -1);
        row("case-insensitive letters", "apple", "Banana", -1);
        row("leading zeros equal in value", "file1", "file01", -1);
        row("longer than 64 bits", "n99999999999999999999999", "n100000000000000000000000", -1);
        row("identical", "Größe 1.jpg", "Größe 1.jpg", 0);
        row("non-ASCII case folding", "ärger", "Äsche", -1);
    }

    void compares() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        const auto sign = [](int value) {
            return value < 0 ? -1 : (value > 0 ? 1 : 0);
        };
        QCOMPARE(sign(naturalCompare(a, b)), expected);
        QCOMPARE(sign(naturalCompare(b, a)), -expected);
        QCOMPARE(naturalLess(a, b), expected < 0);
    }
};

QTEST_GUILESS_MAIN(tst_NaturalOrder)
#include "tst_NaturalOrder.moc"
