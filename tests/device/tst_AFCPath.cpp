#include "device/AFCPath.h"

#include <QTest>

class tst_AFCPath : public QObject {
    Q_OBJECT

private slots:
    void child_data();
    void child();
    void partialCopyNamesCarryTheirMark_data();
    void partialCopyNamesCarryTheirMark();
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

void tst_AFCPath::partialCopyNamesCarryTheirMark_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("mark");
    QTest::addColumn<bool>("made"); // a partial copy's name of ours, of any mark or none
    QTest::addColumn<bool>("withMark");
    const QString mark = QStringLiteral("0a1b2c3d");
    QTest::newRow("fresh, marked") << AFCPath::partialCopyName(mark) << mark << true << true;
    QTest::newRow("fresh, unmarked") << AFCPath::partialCopyName() << QString() << true << true;
    QTest::newRow("unmarked, asked with a mark") << AFCPath::partialCopyName() << mark << true << false;
    QTest::newRow("another transfer's mark")
        << QStringLiteral(".orvanta-partial-ffffffff0123456789abcdef") << mark << true << false;
    QTest::newRow("marked, asked without one")
        << AFCPath::partialCopyName(mark) << QString() << true << false;
    QTest::newRow("a mark in capitals") << QStringLiteral(".orvanta-partial-0A1B2C3D0123456789abcdef")
                                        << QStringLiteral("0A1B2C3D") << false << false;
    QTest::newRow("one digit short") << QStringLiteral(".orvanta-partial-0a1b2c3d0123456789abcde") << mark
                                     << false << false;
    QTest::newRow("an aside name") << QStringLiteral(".orvanta-aside-0a1b2c3d0123456789abcdef") << mark
                                   << false << false;
}

// A transfer's partial copies carry its mark, so that the clean-up of a folder it made can tell
// them from another copy's; names without a mark stay those of copies made before marks.
void tst_AFCPath::partialCopyNamesCarryTheirMark() {
    QFETCH(QString, name);
    QFETCH(QString, mark);
    QFETCH(bool, made);
    QFETCH(bool, withMark);
    QVERIFY(AFCPath::isPartialCopyMark(AFCPath::partialCopyMark()));
    QCOMPARE(AFCPath::isMadePartialCopyName(name), made);
    QCOMPARE(AFCPath::isMadePartialCopyName(name, mark), withMark);
}

QTEST_GUILESS_MAIN(tst_AFCPath)
#include "tst_AFCPath.moc"
