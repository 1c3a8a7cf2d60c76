#include "platform/UniformType.h"

#include <QTest>

class tst_UniformType : public QObject {
    Q_OBJECT

private slots:
    void identifierRoundTrips_data() {
        QTest::addColumn<QString>("extension");
        QTest::newRow("jpeg") << "jpg";
        QTest::newRow("movie") << "mov";
        QTest::newRow("unknown") << "qqqzzz";
    }

    void identifierRoundTrips() {
        // The history stores identifier(); reading it back must give a type that classifies alike.
        QFETCH(QString, extension);
        const auto type = UniformType::forFilenameExtension(extension);
        QVERIFY(type);
        QVERIFY(type->conformsTo(UniformType::data()));
        const auto restored = UniformType::fromIdentifier(type->identifier());
        QVERIFY(restored);
        QCOMPARE(*restored, *type);
        QVERIFY(!restored->localizedDescription().isEmpty());
    }

    void folderIsNotDataAndUnknownIdentifiersAreRefused() {
        const auto folder = UniformType::fromIdentifier(QStringLiteral("inode/directory"));
        QVERIFY(folder);
        QVERIFY(!folder->conformsTo(UniformType::data()));
        QVERIFY(!UniformType::fromIdentifier(QStringLiteral("no/such-type")));
        QVERIFY(!UniformType::forFilenameExtension(QString()));
    }
};

QTEST_GUILESS_MAIN(tst_UniformType)
#include "tst_UniformType.moc"
