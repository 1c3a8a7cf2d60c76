#include "models/FileKind.h"

#include <QTest>

char* toString(const FileKind& kind) {
    return QTest::toString(kind.rawValue());
}

namespace {

void byExtension(const char* extension, FileKind::Value kind) {
    QTest::newRow(extension) << UniformType::forFilenameExtension(QString::fromLatin1(extension))
                             << FileKind(kind);
}

void byIdentifier(const char* identifier, FileKind::Value kind) {
    const auto type = UniformType::fromIdentifier(QString::fromLatin1(identifier));
    QVERIFY2(type, identifier);
    QTest::newRow(identifier) << type << FileKind(kind);
}

} // namespace

class tst_FileKind : public QObject {
    Q_OBJECT

private slots:
    void classifies_data() {
        QTest::addColumn<std::optional<UniformType>>("type");
        QTest::addColumn<FileKind>("kind");

        byExtension("jpg", FileKind::image);
        byExtension("HEIC", FileKind::image);
        byExtension("svg", FileKind::image); // image and (through XML) text: the image test comes first
        byExtension("MOV", FileKind::video);
        byExtension("mp3", FileKind::audio);
        byExtension("tgz", FileKind::archive);
        byExtension("pdf", FileKind::document);
        byExtension("csv", FileKind::document);
        byExtension("qqqzzz", FileKind::other);
        byExtension("", FileKind::other);
        // A folder type is classified like any unknown content: builders set folder themselves.
        byIdentifier("inode/directory", FileKind::other);
        // Zip-based documents are archives first.
        byIdentifier("application/vnd.oasis.opendocument.spreadsheet", FileKind::archive);
        byIdentifier("application/json", FileKind::document);
    }

    void classifies() {
        QFETCH(std::optional<UniformType>, type);
        QFETCH(FileKind, kind);
        QCOMPARE(FileKind::fromUTI(type), kind);
    }
};

QTEST_GUILESS_MAIN(tst_FileKind)
#include "tst_FileKind.moc"
