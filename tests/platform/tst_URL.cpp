#include "platform/URL.h"

#include <QTest>

char* toString(const URL& url) {
    return QTest::toString(url.absoluteString());
}

class tst_URL : public QObject {
    Q_OBJECT

private slots:
    void roundTripsThroughText_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("path");

        const auto row = [](const char* name, const char* host, const char* path) {
            QTest::newRow(name) << QString::fromUtf8(host) << QString::fromUtf8(path);
        };
        row("space, upper-case host", "00008110-001A2B3C4D5E6F70", "/DCIM/My File.jpg");
        row("hash", "UDID", "/Notes/#1.txt");
        row("percent", "UDID", "/100% done/a%20b");
        row("container root", "00008110-001A2B3C4D5E6F70", "/.app/com.x.y/");
        row("port, user and IPv6 delimiters in host", "a:1@[b]", "/DCIM");
    }

    // Everything stored (ids, recent folders, history) is the text; reading it back must give the
    // very same location, whatever characters the names hold.
    void roundTripsThroughText() {
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

    void encodesPathComponents_data() {
        QTest::addColumn<URL>("url");
        QTest::addColumn<QString>("text");

        QTest::newRow("delimiters") << URL::fromComponents("afc", "U", "/a b?c#d%e[f]")
                                    << "afc://U/a%20b%3Fc%23d%25e%5Bf%5D";
        QTest::newRow("sub-delimiters stay")
            << URL::fromComponents("afc", "U", "/a;b=c&d+e,(f)!'$*:@") << "afc://U/a;b=c&d+e,(f)!'$*:@";
        QTest::newRow("file directory")
            << URL::fileURL("/Users/me/My Pictures", true) << "file:///Users/me/My%20Pictures/";
    }

    void encodesPathComponents() {
        QFETCH(URL, url);
        QFETCH(QString, text);
        QCOMPARE(url.absoluteString(), text);
    }

    void parsesText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("scheme"); // empty: refused
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("normalised");

        const auto row = [](const char* text, const char* scheme, const char* host, const char* path,
                            const char* normalised) {
            QTest::newRow(text) << QString::fromUtf8(text) << QString::fromUtf8(scheme)
                                << QString::fromUtf8(host) << QString::fromUtf8(path)
                                << QString::fromUtf8(normalised);
        };
        row("afc://ABCDEF0123/DCIM/", "afc", "ABCDEF0123", "/DCIM", "afc://ABCDEF0123/DCIM/");
        row("afc://UDID", "afc", "UDID", "", "afc://UDID");
        row("afc://U/My%20File.txt", "afc", "U", "/My File.txt", "afc://U/My%20File.txt");
        row("afc://U/a b/ü%zz", "afc", "U", "/a b/ü%zz", "afc://U/a%20b/%C3%BC%25zz");
        row("", "", "", "", "");
        row("/Users/me", "", "", "", "");
        row("1afc://U/", "", "", "", "");
    }

    void parsesText() {
        QFETCH(QString, text);
        QFETCH(QString, scheme);
        const std::optional<URL> url = URL::fromString(text);
        QCOMPARE(url.has_value(), !scheme.isEmpty());
        if (!url)
            return;
        QCOMPARE(url->scheme(), scheme);
        QTEST(url->host(), "host");
        QTEST(url->path(), "path");
        QTEST(url->absoluteString(), "normalised");
    }

    void appendsAndDeletesComponents_data() {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("component");
        QTest::addColumn<bool>("isDirectory");
        QTest::addColumn<QString>("appended");
        QTest::addColumn<QString>("parentOfBase");

        const auto row = [](const char* name, const char* base, const char* component, bool isDirectory,
                            const char* appended, const char* parent) {
            QTest::newRow(name) << QString::fromUtf8(base) << QString::fromUtf8(component) << isDirectory
                                << QString::fromUtf8(appended) << QString::fromUtf8(parent);
        };
        row("into folder", "afc://U/DCIM/", "IMG 1.JPG", false, "afc://U/DCIM/IMG%201.JPG", "afc://U/");
        row("onto bare host", "afc://U", "DCIM", false, "afc://U/DCIM", "afc://U");
        row("container root", "afc://U/.app/com.x.y/", "#a?.txt", false, "afc://U/.app/com.x.y/%23a%3F.txt",
            "afc://U/.app/");
    }

    void appendsAndDeletesComponents() {
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

    void comparesLocations_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::addColumn<bool>("aBelowB");

        const auto row = [](const char* name, const char* a, const char* b, bool same, bool aBelowB) {
            QTest::newRow(name) << QString::fromUtf8(a) << QString::fromUtf8(b) << same << aBelowB;
        };
        row("trailing slash", "afc://U/DCIM/", "afc://U/DCIM", true, false);
        row("dot segments", "afc://U/DCIM/./100APPLE/..", "afc://U/DCIM", true, false);
        row("encoded vs plain letter", "afc://U/%41", "afc://U/A", true, false);
        row("host case differs", "afc://abc/DCIM", "afc://ABC/DCIM", false, false);
        row("child", "afc://U/DCIM/100APPLE", "afc://U/DCIM/", false, true);
        row("sibling with common prefix", "afc://U/DCIM2", "afc://U/DCIM", false, false);
        row("doubled slash", "afc://U/DCIM//100APPLE", "afc://U/DCIM/100APPLE", true, false);
        row("trailing dot segment", "afc://U/DCIM/100APPLE/.", "afc://U/DCIM/100APPLE", true, false);
        row("three dots are a name", "afc://U/DCIM/.../100APPLE", "afc://U/DCIM", false, true);
        row("encoded slash", "afc://U/DCIM%2F100APPLE", "afc://U/DCIM", false, true);
        row("encoded host", "afc://%55/DCIM", "afc://U/DCIM", true, false);
        row("host with a port", "afc://U:62078/DCIM/100APPLE", "afc://U/DCIM", false, true);
        row("host with a user", "afc://me@U/DCIM", "afc://U/DCIM", true, false);
        row("path without a root", "afc:DCIM/./100APPLE", "afc:DCIM", false, true);
    }

    void comparesLocations() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        const URL first = *URL::fromString(a);
        const URL second = *URL::fromString(b);
        QTEST(first.isSameLocation(second), "same");
        QTEST(second.isSameLocation(first), "same");
        QTEST(first.isBelow(second), "aBelowB");
        QVERIFY(!first.isBelow(first));
        QTEST(first.location() == second.location(), "same");
    }
};

QTEST_GUILESS_MAIN(tst_URL)
#include "tst_URL.moc"
