#include "device/AFCComponents.h"
#include "device/AFCLocation.h"

#include <QTest>

class tst_AFCComponents : public QObject {
    Q_OBJECT

private slots:
    void parses_data();
    void parses();
    void refuses_data();
    void refuses();
    void buildersRoundTrip_data();
    void buildersRoundTrip();
    void builderForms_data();
    void builderForms();
};

void tst_AFCComponents::parses_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("bundleID"); // empty = media area

    QTest::newRow("device without path") << "afc://UDID"
                                         << "/"
                                         << "";
    QTest::newRow("media root") << "afc://UDID/"
                                << "/"
                                << "";
    QTest::newRow("media folder") << "afc://UDID/DCIM/100APPLE"
                                  << "/DCIM/100APPLE"
                                  << "";
    QTest::newRow("media folder with slash") << "afc://UDID/DCIM/100APPLE/"
                                             << "/DCIM/100APPLE"
                                             << "";
    QTest::newRow("percent-encoded media name") << "afc://UDID/DCIM/My%20Photo%20%231.JPG"
                                                << "/DCIM/My Photo #1.JPG"
                                                << "";
    QTest::newRow("non-ASCII name") << "afc://UDID/Ordner/%C3%84rger.txt"
                                    << QStringLiteral(u"/Ordner/Ärger.txt") << "";
    QTest::newRow("container root") << "afc://UDID/.app/com.example.notes/"
                                    << "/"
                                    << "com.example.notes";
    QTest::newRow("container root without slash") << "afc://UDID/.app/com.example.notes"
                                                  << "/"
                                                  << "com.example.notes";
    QTest::newRow("container file") << "afc://UDID/.app/com.example.notes/Documents/My%20File.txt"
                                    << "/Documents/My File.txt"
                                    << "com.example.notes";
    QTest::newRow("container folder with slash") << "afc://UDID/.app/com.example.notes/Documents/Sub/"
                                                 << "/Documents/Sub"
                                                 << "com.example.notes";
    QTest::newRow("doubled slash before bundle") << "afc://UDID/.app//com.example.notes/Documents"
                                                 << "/Documents"
                                                 << "com.example.notes";
    // The trailing "/" goes before the prefix test, so this is the media folder "/.app".
    QTest::newRow("bare .app folder") << "afc://UDID/.app/"
                                      << "/.app"
                                      << "";
    QTest::newRow("lookalike prefix") << "afc://UDID/.apple/x"
                                      << "/.apple/x"
                                      << "";
}

void tst_AFCComponents::parses() {
    QFETCH(QString, url);
    QFETCH(QString, path);
    QFETCH(QString, bundleID);
    const auto parsed = URL::fromString(url);
    QVERIFY(parsed);
    const auto components = afcComponents(*parsed);
    QVERIFY(components);
    QCOMPARE(components->udid, QStringLiteral("UDID"));
    QCOMPARE(components->devicePath, path);
    QCOMPARE(components->bundleID, bundleID.isEmpty() ? std::nullopt : std::optional<QString>(bundleID));
}

void tst_AFCComponents::refuses_data() {
    QTest::addColumn<QString>("url");

    QTest::newRow("file URL") << "file:///Users";
    QTest::newRow("scheme is case-sensitive") << "AFC://UDID/DCIM";
    // Without a host the UDID would be empty and reach the device library as such.
    QTest::newRow("no host") << "afc:/DCIM";
    QTest::newRow("empty host") << "afc:///DCIM";
    QTest::newRow("container without bundle") << "afc://UDID/.app//";
    QTest::newRow("container of slashes") << "afc://UDID/.app///";
}

void tst_AFCComponents::refuses() {
    QFETCH(QString, url);
    const auto parsed = URL::fromString(url);
    QVERIFY(parsed);
    QVERIFY(!afcComponents(*parsed));
    QVERIFY(!afcComponents(URL()));
}

void tst_AFCComponents::buildersRoundTrip_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("spaces") << "/DCIM/My Photo.JPG";
    QTest::newRow("percent") << "/100% done/a%20b.txt";
    QTest::newRow("query and fragment characters") << "/Notes/#1?.txt";
    QTest::newRow("non-ASCII") << QStringLiteral(u"/Fotos/Sommer 2024 ☀️.heic");
    QTest::newRow("relative") << "DCIM/IMG_0001.JPG";
}

void tst_AFCComponents::buildersRoundTrip() {
    // A name with "%", "#" or "?" must come back from the parser as it went in, or the device
    // layer would be handed another file's path.
    QFETCH(QString, path);
    const QString absolute = path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;

    const auto media = afcComponents(AFCLocation::mediaURL(QStringLiteral("00008110-001A"), path));
    QVERIFY(media);
    QCOMPARE(*media, (AFCComponents{QStringLiteral("00008110-001A"), absolute, std::nullopt}));

    const auto container = afcComponents(
        AFCLocation::containerURL(QStringLiteral("00008110-001A"), QStringLiteral("com.a.b"), path));
    QVERIFY(container);
    QCOMPARE(*container,
             (AFCComponents{QStringLiteral("00008110-001A"), absolute, QStringLiteral("com.a.b")}));
}

void tst_AFCComponents::builderForms_data() {
    QTest::addColumn<URL>("url");
    QTest::addColumn<QString>("text");

    QTest::newRow("media root") << AFCLocation::mediaRoot(QStringLiteral("ABC123")) << "afc://ABC123/";
    QTest::newRow("media path") << AFCLocation::mediaURL(QStringLiteral("ABC123"),
                                                         QStringLiteral("/DCIM/a b.jpg"))
                                << "afc://ABC123/DCIM/a%20b.jpg";
    QTest::newRow("container root") << AFCLocation::containerRoot(QStringLiteral("ABC123"),
                                                                  QStringLiteral("com.example.notes"))
                                    << "afc://ABC123/.app/com.example.notes/";
    QTest::newRow("container path") << AFCLocation::containerURL(QStringLiteral("ABC123"),
                                                                 QStringLiteral("com.example.notes"),
                                                                 QStringLiteral("Documents/a.txt"))
                                    << "afc://ABC123/.app/com.example.notes/Documents/a.txt";
}

void tst_AFCComponents::builderForms() {
    // The host keeps its case: UDIDs are upper-case and ids compare the text byte for byte.
    QFETCH(URL, url);
    QFETCH(QString, text);
    QCOMPARE(url.absoluteString(), text);
}

QTEST_GUILESS_MAIN(tst_AFCComponents)
#include "tst_AFCComponents.moc"
