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
};

void tst_AFCComponents::parses_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("bundleID"); // empty = media area
    const auto row = [](const char* tag, const char* url, const QString& path, const char* bundleID) {
        QTest::newRow(tag) << QString::fromUtf8(url) << path << QString::fromUtf8(bundleID);
    };

    row("device without path", "afc://UDID", QStringLiteral("/"), "");
    row("media folder with slash", "afc://UDID/DCIM/100APPLE/", QStringLiteral("/DCIM/100APPLE"), "");
    row("percent-encoded name", "afc://UDID/DCIM/My%20Photo%20%231.JPG",
        QStringLiteral("/DCIM/My Photo #1.JPG"), "");
    row("container root without slash", "afc://UDID/.app/com.example.notes", QStringLiteral("/"),
        "com.example.notes");
    row("container file", "afc://UDID/.app/com.example.notes/Documents/My%20File.txt",
        QStringLiteral("/Documents/My File.txt"), "com.example.notes");
    // The trailing "/" goes before the prefix test, so this is the media folder "/.app".
    row("bare .app folder", "afc://UDID/.app/", QStringLiteral("/.app"), "");
    row("lookalike prefix", "afc://UDID/.apple/x", QStringLiteral("/.apple/x"), "");
}

void tst_AFCComponents::parses() {
    QFETCH(QString, url);
    QFETCH(QString, path);
    QFETCH(QString, bundleID);
    const auto parsed = URL::fromString(url);
    QVERIFY(parsed);
    const auto components = afcComponents(*parsed);
    QVERIFY(components);
    QCOMPARE(*components,
             (AFCComponents{QStringLiteral("UDID"), path,
                            bundleID.isEmpty() ? std::nullopt : std::optional<QString>(bundleID)}));
}

void tst_AFCComponents::refuses_data() {
    QTest::addColumn<QString>("url");
    QTest::newRow("scheme is case-sensitive") << "AFC://UDID/DCIM";
    // Without a host the UDID would be empty and reach the device library as such.
    QTest::newRow("empty host") << "afc:///DCIM";
    QTest::newRow("container without bundle") << "afc://UDID/.app//";
    // A NUL would end the path early in every library call.
    QTest::newRow("NUL in path") << "afc://UDID/Empty%00/file.txt";
    // Path steps, not apps: cleaning the path would read such a location as another place.
    QTest::newRow("dot-dot as bundle") << "afc://UDID/.app/../DCIM";
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
    QTest::newRow("query and fragment characters") << "/Notes/#1?.txt";
    QTest::newRow("relative") << "DCIM/IMG_0001.JPG";
}

void tst_AFCComponents::buildersRoundTrip() {
    // A name with "%", "#" or "?" must come back from the parser as it went in, or the device
    // layer would be handed another file's path.
    QFETCH(QString, path);
    const QString udid = QStringLiteral("00008110-001A");
    const QString absolute = path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;

    QCOMPARE(afcComponents(AFCLocation::mediaURL(udid, path)),
             std::optional(AFCComponents{udid, absolute, std::nullopt}));
    QCOMPARE(afcComponents(AFCLocation::containerURL(udid, QStringLiteral("com.a.b"), path)),
             std::optional(AFCComponents{udid, absolute, QStringLiteral("com.a.b")}));
}

QTEST_GUILESS_MAIN(tst_AFCComponents)
#include "tst_AFCComponents.moc"
