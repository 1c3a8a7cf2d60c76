#include "platform/UniformType.h"

#include <QTest>

class tst_UniformType : public QObject {
    Q_OBJECT

private slots:
    void unknownExtensionIsDataOnly();
    void emptyExtensionHasNoType();
    void identifierRoundTrips_data();
    void identifierRoundTrips();
    void folderIsNotData();
};

void tst_UniformType::unknownExtensionIsDataOnly() {
    const auto type = UniformType::forFilenameExtension(QStringLiteral("qqqzzz"));
    QVERIFY(type);
    QVERIFY(type->conformsTo(UniformType::data()));
    for (const UniformType& named :
         {UniformType::image(), UniformType::movie(), UniformType::video(), UniformType::audio(),
          UniformType::archive(), UniformType::zip(), UniformType::pdf(), UniformType::text(),
          UniformType::spreadsheet(), UniformType::presentation()})
        QVERIFY2(!type->conformsTo(named), qPrintable(named.identifier()));
}

void tst_UniformType::emptyExtensionHasNoType() {
    QVERIFY(!UniformType::forFilenameExtension(QString()));
}

void tst_UniformType::identifierRoundTrips_data() {
    QTest::addColumn<QString>("extension");
    QTest::newRow("jpeg") << "jpg";
    QTest::newRow("movie") << "mov";
    QTest::newRow("unknown") << "qqqzzz";
}

void tst_UniformType::identifierRoundTrips() {
    // The history stores identifier(); reading it back must give a type that classifies alike.
    QFETCH(QString, extension);
    const auto type = UniformType::forFilenameExtension(extension);
    QVERIFY(type);
    const auto restored = UniformType::fromIdentifier(type->identifier());
    QVERIFY(restored);
    QCOMPARE(*restored, *type);
    QVERIFY(!restored->localizedDescription().isEmpty());
}

void tst_UniformType::folderIsNotData() {
    const auto folder = UniformType::fromIdentifier(QStringLiteral("inode/directory"));
    QVERIFY(folder);
    QVERIFY(!folder->conformsTo(UniformType::data()));
    QVERIFY(!UniformType::fromIdentifier(QStringLiteral("no/such-type")));
}

QTEST_GUILESS_MAIN(tst_UniformType)
#include "tst_UniformType.moc"
