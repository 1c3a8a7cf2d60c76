#include "platform/URL.h"

#include <QSet>
#include <QTest>

char* toString(const URL& url) {
    return QTest::toString(url.absoluteString());
}

class tst_URL : public QObject {
    Q_OBJECT

private slots:
    void roundTripsThroughText_data();
    void roundTripsThroughText();
    void encodesPathComponents_data();
    void encodesPathComponents();
    void parsesText_data();
    void parsesText();
    void refusesTextWithoutScheme_data();
    void refusesTextWithoutScheme();
    void nameParts_data();
    void nameParts();
    void appendsAndDeletesComponents_data();
    void appendsAndDeletesComponents();
    void comparesLocations_data();
    void comparesLocations();
    void equalityIsExactText();
};

void tst_URL::roundTripsThroughText_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("path");

    QTest::newRow("space") << "00008110-001A2B3C4D5E6F70"
                           << "/DCIM/My File.jpg";
    QTest::newRow("hash") << "UDID"
                          << "/Notes/#1.txt";
    QTest::newRow("percent") << "UDID"
                             << "/100% done/a%20b";
    QTest::newRow("brackets") << "UDID"
                              << "/a[1]/b].txt";
    QTest::newRow("question mark") << "UDID"
                                   << "/why?/really?.txt";
    QTest::newRow("non-ASCII") << "UDID"
                               << "/Fotos/Größe 😀.HEIC";
    QTest::newRow("container root") << "00008110-001A2B3C4D5E6F70"
                                    << "/.app/com.x.y/";
    QTest::newRow("root") << "UDID"
                          << "/";
    QTest::newRow("no host") << ""
                             << "/DCIM";
}

// Everything stored (ids, recent folders, history) is the text; reading it back must give the
// very same location, whatever characters the names hold.
void tst_URL::roundTripsThroughText() {
    QFETCH(QString, host);
    QFETCH(QString, path);

    const URL url = URL::fromComponents(QStringLiteral("afc"), host, path);
    const std::optional<URL> parsed = URL::fromString(url.absoluteString());
    QVERIFY(parsed);
    QCOMPARE(*parsed, url);
    QCOMPARE(parsed->host(), host);
    QCOMPARE(parsed->scheme(), QStringLiteral("afc"));
    const QString expectedPath = path.size() > 1 && path.endsWith(u'/') ? path.chopped(1) : path;
    QCOMPARE(parsed->path(), expectedPath);
    QCOMPARE(parsed->hasDirectoryPath(), path.endsWith(u'/'));

    const URL file = URL::fileURL(QStringLiteral("/tmp") + path);
    QCOMPARE(URL::fromString(file.absoluteString()), file);
    QString localPath = QStringLiteral("/tmp") + path;
    if (localPath.endsWith(u'/'))
        localPath.chop(1);
    QCOMPARE(file.toLocalFile(), localPath);
}

void tst_URL::encodesPathComponents_data() {
    QTest::addColumn<URL>("url");
    QTest::addColumn<QString>("text");

    QTest::newRow("device file") << URL::fromComponents("afc", "00008110-001A2B3C4D5E6F70",
                                                        "/DCIM/My File.jpg")
                                 << "afc://00008110-001A2B3C4D5E6F70/DCIM/My%20File.jpg";
    QTest::newRow("delimiters") << URL::fromComponents("afc", "U", "/a?b#c%d[e]")
                                << "afc://U/a%3Fb%23c%25d%5Be%5D";
    QTest::newRow("sub-delimiters stay")
        << URL::fromComponents("afc", "U", "/a;b=c&d+e,(f)!'$*:@") << "afc://U/a;b=c&d+e,(f)!'$*:@";
    QTest::newRow("non-ASCII as UTF-8") << URL::fromComponents("afc", "U", "/é") << "afc://U/%C3%A9";
    QTest::newRow("file with space") << URL::fileURL("/Users/me/My Pictures/a b.jpg")
                                     << "file:///Users/me/My%20Pictures/a%20b.jpg";
    QTest::newRow("file directory") << URL::fileURL("/Users/me/Pictures", true)
                                    << "file:///Users/me/Pictures/";
}

void tst_URL::encodesPathComponents() {
    QFETCH(URL, url);
    QFETCH(QString, text);
    QCOMPARE(url.absoluteString(), text);
}

void tst_URL::parsesText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("normalised");

    QTest::newRow("upper-case host kept") << "afc://ABCDEF0123/DCIM/"
                                          << "afc"
                                          << "ABCDEF0123"
                                          << "/DCIM"
                                          << "afc://ABCDEF0123/DCIM/";
    QTest::newRow("host only") << "afc://UDID"
                               << "afc"
                               << "UDID"
                               << ""
                               << "afc://UDID";
    QTest::newRow("no authority") << "afc:/DCIM"
                                  << "afc"
                                  << ""
                                  << "/DCIM"
                                  << "afc:/DCIM";
    QTest::newRow("empty authority") << "file:///Users/me"
                                     << "file"
                                     << ""
                                     << "/Users/me"
                                     << "file:///Users/me";
    QTest::newRow("escapes decoded") << "afc://U/My%20File.txt"
                                     << "afc"
                                     << "U"
                                     << "/My File.txt"
                                     << "afc://U/My%20File.txt";
    QTest::newRow("query and fragment") << "https://Example.org:8080/a/b?x=1#top"
                                        << "https"
                                        << "Example.org"
                                        << "/a/b"
                                        << "https://Example.org:8080/a/b?x=1#top";
    QTest::newRow("stray characters encoded") << "afc://U/a b/ü%zz"
                                              << "afc"
                                              << "U"
                                              << "/a b/ü%zz"
                                              << "afc://U/a%20b/%C3%BC%25zz";
}

void tst_URL::parsesText() {
    QFETCH(QString, text);
    const std::optional<URL> url = URL::fromString(text);
    QVERIFY(url);
    QTEST(url->scheme(), "scheme");
    QTEST(url->host(), "host");
    QTEST(url->path(), "path");
    QTEST(url->absoluteString(), "normalised");
}

void tst_URL::refusesTextWithoutScheme_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("plain path") << "/Users/me";
    QTest::newRow("leading colon") << ":foo";
    QTest::newRow("scheme starting with digit") << "1afc://U/";
    QTest::newRow("space in scheme") << "a fc://U/";
}

void tst_URL::refusesTextWithoutScheme() {
    QFETCH(QString, text);
    QVERIFY(!URL::fromString(text));
}

void tst_URL::nameParts_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("lastComponent");
    QTest::addColumn<QString>("extension");

    QTest::newRow("double extension") << "/a/a.tar.gz"
                                      << "a.tar.gz"
                                      << "gz";
    QTest::newRow("hidden file") << "/a/.hidden"
                                 << ".hidden"
                                 << "";
    QTest::newRow("hidden file with extension") << "/a/.hidden.txt"
                                                << ".hidden.txt"
                                                << "txt";
    QTest::newRow("trailing dot") << "/a/name."
                                  << "name."
                                  << "";
    QTest::newRow("folder") << "/DCIM/100APPLE/"
                            << "100APPLE"
                            << "";
    QTest::newRow("root") << "/"
                          << "/"
                          << "";
}

void tst_URL::nameParts() {
    QFETCH(QString, path);
    const URL url = URL::fromComponents(QStringLiteral("afc"), QStringLiteral("U"), path);
    QTEST(url.lastPathComponent(), "lastComponent");
    QTEST(url.pathExtension(), "extension");
}

void tst_URL::appendsAndDeletesComponents_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("component");
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<QString>("appended");
    QTest::addColumn<QString>("parentOfBase");

    QTest::newRow("into folder") << "afc://U/DCIM/"
                                 << "IMG 1.JPG" << false << "afc://U/DCIM/IMG%201.JPG"
                                 << "afc://U/";
    QTest::newRow("without trailing slash") << "afc://U/DCIM"
                                            << "100APPLE" << true << "afc://U/DCIM/100APPLE/"
                                            << "afc://U/";
    QTest::newRow("onto root") << "afc://U/"
                               << "DCIM" << true << "afc://U/DCIM/"
                               << "afc://U/";
    QTest::newRow("onto bare host") << "afc://U"
                                    << "DCIM" << false << "afc://U/DCIM"
                                    << "afc://U";
    QTest::newRow("container root") << "afc://U/.app/com.x.y/"
                                    << "#a?.txt" << false << "afc://U/.app/com.x.y/%23a%3F.txt"
                                    << "afc://U/.app/";
    QTest::newRow("file") << "file:///home/me/a.txt"
                          << "b" << false << "file:///home/me/a.txt/b"
                          << "file:///home/me/";
}

void tst_URL::appendsAndDeletesComponents() {
    QFETCH(QString, base);
    QFETCH(QString, component);
    QFETCH(bool, isDirectory);
    const URL url = *URL::fromString(base);
    const URL appended = url.appendingPathComponent(component, isDirectory);
    QTEST(appended.absoluteString(), "appended");
    QTEST(url.deletingLastPathComponent().absoluteString(), "parentOfBase");
    QCOMPARE(appended.lastPathComponent(), component);
    QVERIFY(appended.deletingLastPathComponent().isSameLocation(url));
}

void tst_URL::comparesLocations_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");
    QTest::addColumn<bool>("aBelowB");

    QTest::newRow("trailing slash") << "afc://U/DCIM/"
                                    << "afc://U/DCIM" << true << false;
    QTest::newRow("bare host is root") << "afc://U"
                                       << "afc://U/" << true << false;
    QTest::newRow("dot segments") << "afc://U/DCIM/./100APPLE/.."
                                  << "afc://U/DCIM" << true << false;
    QTest::newRow("encoded vs plain letter") << "afc://U/%41"
                                             << "afc://U/A" << true << false;
    QTest::newRow("host case differs") << "afc://abc/DCIM"
                                       << "afc://ABC/DCIM" << false << false;
    QTest::newRow("scheme differs") << "file:///DCIM"
                                    << "afc:///DCIM" << false << false;
    QTest::newRow("child") << "afc://U/DCIM/100APPLE"
                           << "afc://U/DCIM/" << false << true;
    QTest::newRow("below root") << "afc://U/DCIM"
                                << "afc://U/" << false << true;
    QTest::newRow("sibling with common prefix") << "afc://U/DCIM2"
                                                << "afc://U/DCIM" << false << false;
    QTest::newRow("parent is not below") << "afc://U/DCIM"
                                         << "afc://U/DCIM/100APPLE" << false << false;
    QTest::newRow("other device") << "afc://V/DCIM/a"
                                  << "afc://U/DCIM" << false << false;
}

void tst_URL::comparesLocations() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    const URL first = *URL::fromString(a);
    const URL second = *URL::fromString(b);
    QTEST(first.isSameLocation(second), "same");
    QTEST(second.isSameLocation(first), "same");
    QTEST(first.isBelow(second), "aBelowB");
    QVERIFY(!first.isBelow(first));
}

void tst_URL::equalityIsExactText() {
    const URL upper = *URL::fromString(QStringLiteral("afc://ABC/DCIM"));
    const URL lower = *URL::fromString(QStringLiteral("afc://abc/DCIM"));
    const URL slash = *URL::fromString(QStringLiteral("afc://ABC/DCIM/"));
    QVERIFY(upper != lower);
    QVERIFY(upper != slash);
    const QSet<URL> set{upper, lower, slash, *URL::fromString(QStringLiteral("afc://ABC/DCIM"))};
    QCOMPARE(set.size(), 3);
    QVERIFY(URL().isEmpty());
}

QTEST_GUILESS_MAIN(tst_URL)
#include "tst_URL.moc"
