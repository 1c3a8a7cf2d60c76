#include "models/FileKind.h"

#include <QTest>

char* toString(const FileKind& kind) {
    return QTest::toString(kind.rawValue());
}

class tst_FileKind : public QObject {
    Q_OBJECT

private slots:
    void rawValuesRoundTrip();
    void fromRawValueIsExact_data();
    void fromRawValueIsExact();
    void classifiesByExtension_data();
    void classifiesByExtension();
    void classifiesByIdentifier_data();
    void classifiesByIdentifier();
};

void tst_FileKind::rawValuesRoundTrip() {
    const QStringList expected{"folder", "image", "video", "audio", "document", "archive", "other"};
    QStringList names;
    for (const FileKind kind : FileKind::allCases()) {
        names << kind.rawValue();
        QCOMPARE(FileKind::fromRawValue(kind.rawValue()), kind);
    }
    QCOMPARE(names, expected);
}

void tst_FileKind::fromRawValueIsExact_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("capitalised") << "Image";
    QTest::newRow("padded") << " archive";
    QTest::newRow("empty") << "";
}

void tst_FileKind::fromRawValueIsExact() {
    QFETCH(QString, text);
    QVERIFY(!FileKind::fromRawValue(text));
}

void tst_FileKind::classifiesByExtension_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<FileKind>("kind");

    QTest::newRow("jpeg") << "jpg" << FileKind(FileKind::image);
    QTest::newRow("heic upper-case") << "HEIC" << FileKind(FileKind::image);
    // Both image and (through XML) text: the image test comes first.
    QTest::newRow("svg") << "svg" << FileKind(FileKind::image);
    QTest::newRow("quicktime") << "MOV" << FileKind(FileKind::video);
    QTest::newRow("mpeg-4") << "mp4" << FileKind(FileKind::video);
    QTest::newRow("mp3") << "mp3" << FileKind(FileKind::audio);
    QTest::newRow("zip") << "zip" << FileKind(FileKind::archive);
    QTest::newRow("gzip tarball") << "tgz" << FileKind(FileKind::archive);
    QTest::newRow("pdf") << "pdf" << FileKind(FileKind::document);
    QTest::newRow("plain text") << "txt" << FileKind(FileKind::document);
    QTest::newRow("csv") << "csv" << FileKind(FileKind::document);
    QTest::newRow("legacy spreadsheet") << "xls" << FileKind(FileKind::document);
    QTest::newRow("legacy presentation") << "ppt" << FileKind(FileKind::document);
    QTest::newRow("unknown") << "qqqzzz" << FileKind(FileKind::other);
    QTest::newRow("no extension") << "" << FileKind(FileKind::other);
}

void tst_FileKind::classifiesByExtension() {
    QFETCH(QString, extension);
    QFETCH(FileKind, kind);
    QCOMPARE(FileKind::fromUTI(UniformType::forFilenameExtension(extension)), kind);
}

void tst_FileKind::classifiesByIdentifier_data() {
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<FileKind>("kind");

    // A folder type is classified like any unknown content: builders set folder themselves.
    QTest::newRow("folder") << "inode/directory" << FileKind(FileKind::other);
    QTest::newRow("generic data") << "application/octet-stream" << FileKind(FileKind::other);
    QTest::newRow("open document spreadsheet (zip-based)")
        << "application/vnd.oasis.opendocument.spreadsheet" << FileKind(FileKind::archive);
    QTest::newRow("json is text") << "application/json" << FileKind(FileKind::document);
}

void tst_FileKind::classifiesByIdentifier() {
    QFETCH(QString, identifier);
    QFETCH(FileKind, kind);
    const auto type = UniformType::fromIdentifier(identifier);
    QVERIFY(type);
    QCOMPARE(FileKind::fromUTI(type), kind);
}

QTEST_GUILESS_MAIN(tst_FileKind)
#include "tst_FileKind.moc"
