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
    const auto row = [](const char* tag, const char* folder, const QString& name, const char* expected) {
        QTest::newRow(tag) << QString::fromUtf8(folder) << name << QString::fromUtf8(expected);
    };

    row("root", "/", QStringLiteral("DCIM"), "/DCIM");
    row("folder with trailing slash", "/DCIM/", QStringLiteral("a.jpg"), "/DCIM/a.jpg");
    // Names that merely begin with dots are ordinary names.
    row("dot file", "/", QStringLiteral(".hidden"), "/.hidden");
    row("empty", "/DCIM", QString(), "");
    row("dot dot", "/DCIM", QStringLiteral(".."), "");
    row("slash", "/DCIM", QStringLiteral("a/b"), "");
    row("NUL", "/DCIM", QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b"), "");
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
