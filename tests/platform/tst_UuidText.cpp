#include "platform/UuidText.h"

#include <QTest>

class tst_UuidText : public QObject {
    Q_OBJECT

private slots:
    void writesUpperCaseWithoutBraces() {
        const QUuid uuid = QUuid::fromString(QStringLiteral("{e621e1f8-c36c-495a-93fc-0c247a3e6e5f}"));
        QCOMPARE(uuidString(uuid), QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
        const QUuid random = QUuid::createUuid();
        QCOMPARE(uuidFromString(uuidString(random)), random);
    }

    void reads_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");

        QTest::newRow("lower case") << "e621e1f8-c36c-495a-93fc-0c247a3e6e5f" << true;
        QTest::newRow("braces") << "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}" << false;
        QTest::newRow("non-hex digit") << "G621E1F8-C36C-495A-93FC-0C247A3E6E5F" << false;
    }

    void reads() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const std::optional<QUuid> uuid = uuidFromString(text);
        QCOMPARE(uuid.has_value(), valid);
        if (valid)
            QCOMPARE(uuidString(*uuid), text.toUpper());
    }
};

QTEST_GUILESS_MAIN(tst_UuidText)
#include "tst_UuidText.moc"
