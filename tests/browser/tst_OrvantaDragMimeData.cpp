// The data a drag of rows carries: our own list read back in row order, bad data read as
// nothing, and the outside form ("text/uri-list") asked only by the outside, answered once.

#include "browser/OrvantaDragMimeData.h"

#include <QTest>

namespace {

const QString photo = QStringLiteral("afc://00008110-001A2B3C4D5E6F70/DCIM/100APPLE/IMG_1.HEIC");

FileItem itemAt(const QString& text) {
    const URL url = *URL::fromString(text);
    return FileItem(text, url.lastPathComponent(), url, false, 0, Date(0), FileKind::other, std::nullopt);
}

QStringList texts(const QList<URL>& urls) {
    QStringList list;
    for (const URL& url : urls)
        list.append(url.absoluteString());
    return list;
}

} // namespace

class tst_OrvantaDragMimeData : public QObject {
    Q_OBJECT

private slots:
    void roundTripKeepsRowOrder();
    void dropsReadOnlyWhatTheyMay_data();
    void dropsReadOnlyWhatTheyMay();
    void outsideFormIsProducedOnce();
};

void tst_OrvantaDragMimeData::roundTripKeepsRowOrder() {
    const QStringList dragged{QStringLiteral("file:///home/u/b%20c.jpg"), photo,
                              QStringLiteral("file:///home/u/a.jpg")};
    QList<FileItem> items;
    for (const QString& text : dragged)
        items.append(itemAt(text));
    OrvantaDragMimeData data(items);
    QCOMPARE(texts(readFileURLs(&data)), dragged);
    // Written beside what other data holds, which stays.
    QMimeData plain;
    plain.setText(QStringLiteral("kept"));
    writeInternalURLs({items.at(1).path(), items.at(0).path()}, plain);
    QCOMPARE(texts(readInternalURLs(&plain)), (QStringList{dragged.at(1), dragged.at(0)}));
    QCOMPARE(plain.text(), QStringLiteral("kept"));
}

void tst_OrvantaDragMimeData::dropsReadOnlyWhatTheyMay_data() {
    QTest::addColumn<std::optional<QByteArray>>("internal");
    QTest::addColumn<QStringList>("onRows");
    QTest::addColumn<QStringList>("onEmptyArea");

    const QStringList file{QStringLiteral("file:///home/u/b%20c.jpg")};
    const QStringList none;
    // Beside each, a file URL and a web address: data of our type is read through it alone.
    QTest::newRow("the file manager's") << std::optional<QByteArray>() << file << file;
    QTest::newRow("ours") << std::optional<QByteArray>(R"([")" + photo.toUtf8() + R"("])")
                          << QStringList{photo} << none;
    QTest::newRow("not JSON") << std::optional<QByteArray>("file:///a") << none << none;
    QTest::newRow("an object") << std::optional<QByteArray>(R"({"a":"file:///a"})") << none << none;
    QTest::newRow("a number among strings")
        << std::optional<QByteArray>(R"(["file:///a",3])") << none << none;
    QTest::newRow("a string that is no URL is skipped")
        << std::optional<QByteArray>(R"(["no scheme","file:///a"])")
        << QStringList{QStringLiteral("file:///a")} << none;
}

void tst_OrvantaDragMimeData::dropsReadOnlyWhatTheyMay() {
    QFETCH(std::optional<QByteArray>, internal);
    QFETCH(QStringList, onRows);
    QFETCH(QStringList, onEmptyArea);

    QMimeData data;
    data.setUrls({QUrl(QStringLiteral("https://example.com/a.jpg")),
                  QUrl::fromLocalFile(QStringLiteral("/home/u/b c.jpg"))});
    if (internal)
        data.setData(OrvantaDragMimeData::internalURLsType, *internal);
    QCOMPARE(texts(readFileURLs(&data)), onRows);
    QCOMPARE(texts(readOutsideFileURLs(&data)), onEmptyArea);
}

void tst_OrvantaDragMimeData::outsideFormIsProducedOnce() {
    OrvantaDragMimeData data({itemAt(photo), itemAt(QStringLiteral("file:///home/u/a%20b.jpg"))});
    // Without a source only computer items answer, with their own locations.
    QCOMPARE(data.urls(), QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/home/u/a b.jpg"))});

    int produced = 0;
    const QList<QUrl> copies{QUrl::fromLocalFile(QStringLiteral("/tmp/x/0/IMG_1.HEIC")),
                             QUrl::fromLocalFile(QStringLiteral("/home/u/a b.jpg"))};
    data.setExternalURLSource([&] {
        ++produced;
        return copies;
    });
    // Dropped inside the window, nothing is produced.
    QCOMPARE(readFileURLs(&data).size(), 2);
    QVERIFY(readOutsideFileURLs(&data).isEmpty());
    QCOMPARE(produced, 0);

    QCOMPARE(data.urls(), copies);
    QCOMPARE(data.data(OrvantaDragMimeData::uriListType),
             QByteArray("file:///tmp/x/0/IMG_1.HEIC\r\nfile:///home/u/a%20b.jpg\r\n"));
    QCOMPARE(produced, 1);
}

QTEST_GUILESS_MAIN(tst_OrvantaDragMimeData)
#include "tst_OrvantaDragMimeData.moc"
