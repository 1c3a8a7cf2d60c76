#include "models/FileItem.h"

#include <QSet>
#include <QTest>

#include <unordered_set>

namespace {

FileItem item(const QString& id, const QString& name, quint64 size) {
    const URL url = URL::fileURL(QStringLiteral("/Users/me/") + name);
    return FileItem(id, name, url, false, size, Date(size), FileKind::document,
                    UniformType::forFilenameExtension(url.pathExtension()));
}

} // namespace

class tst_FileItem : public QObject {
    Q_OBJECT

private slots:
    void identityIsTheIdTextAlone() {
        // The selection is a set of items: a relisted file with a new size must replace, not
        // join, it.
        const FileItem before = item(QStringLiteral("/Users/me/a.txt"), QStringLiteral("a.txt"), 10);
        const FileItem after = item(QStringLiteral("/Users/me/a.txt"), QStringLiteral("renamed.txt"), 20);
        QCOMPARE((QSet<FileItem>{before, after}).size(), 1);
        QCOMPARE((std::unordered_set<FileItem>{before, after}).size(), size_t(1));

        // Ids compare as text, byte for byte: no case folding, no URL normalisation.
        QVERIFY(!(before == item(QStringLiteral("file:///Users/me/a.txt"), QStringLiteral("a.txt"), 10)));
        QVERIFY(!(before == item(QStringLiteral("/USERS/ME/A.TXT"), QStringLiteral("a.txt"), 10)));
    }
};

QTEST_GUILESS_MAIN(tst_FileItem)
#include "tst_FileItem.moc"
