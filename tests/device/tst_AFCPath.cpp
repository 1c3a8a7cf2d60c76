#include "device/AFCPath.h"

#include <QTest>

class tst_AFCPath : public QObject {
    Q_OBJECT

private slots:
    void child_data();
    void child();
};

void tst_AFCPath::child_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // empty: refused

    QTest::newRow("root") << "/"
                          << "DCIM"
                          << "/DCIM";
    QTest::newRow("folder") << "/DCIM"
                            << "100APPLE"
                            << "/DCIM/100APPLE";
    QTest::newRow("folder with trailing slash") << "/DCIM/"
                                                << "a.jpg"
                                                << "/DCIM/a.jpg";
    QTest::newRow("dot file") << "/"
                              << ".hidden"
                              << "/.hidden";
    QTest::newRow("three dots") << "/"
                                << "..."
                                << "/...";
    QTest::newRow("empty") << "/DCIM"
                           << ""
                           << "";
    QTest::newRow("dot") << "/DCIM"
                         << "."
                         << "";
    QTest::newRow("dot dot") << "/DCIM"
                             << ".."
                             << "";
    QTest::newRow("climbs out") << "/DCIM"
                                << "../etc"
                                << "";
    QTest::newRow("slash") << "/DCIM"
                           << "a/b"
                           << "";
    QTest::newRow("NUL") << "/DCIM" << QString(QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b"))
                         << "";
}

void tst_AFCPath::child() {
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(AFCPath::child(folder, name).value_or(QString()), expected);
    QCOMPARE(AFCPath::isSafeName(name), !expected.isEmpty());
}

QTEST_GUILESS_MAIN(tst_AFCPath)
#include "tst_AFCPath.moc"
