#include "models/FileItem.h"

#include <QSet>
#include <QTest>

#include <unordered_set>

namespace {

FileItem item(const QString& id, const QString& name, quint64 size, double modified) {
    const URL url = URL::fileURL(QStringLiteral("/Users/me/") + name);
    return FileItem(id, name, url, false, size, Date(modified), FileKind::document,
                    UniformType::forFilenameExtension(url.pathExtension()));
}

} // namespace

class tst_FileItem : public QObject {
    Q_OBJECT

private slots:
    void identityIsTheIdAlone();
    void pathIdAndURLIdAreDifferentItems();
};

void tst_FileItem::identityIsTheIdAlone() {
    // The selection is a set of items: a relisted file with a new size must replace, not join, it.
    const FileItem before = item(QStringLiteral("/Users/me/a.txt"), QStringLiteral("a.txt"), 10, 1);
    const FileItem after = item(QStringLiteral("/Users/me/a.txt"), QStringLiteral("renamed.txt"), 20, 2);
    QCOMPARE(before, after);
    QCOMPARE(qHash(before), qHash(after));
    QCOMPARE(std::hash<FileItem>()(before), std::hash<FileItem>()(after));

    QSet<FileItem> qtSet{before, after};
    QCOMPARE(qtSet.size(), 1);
    std::unordered_set<FileItem> stdSet{before, after};
    QCOMPARE(stdSet.size(), size_t(1));
}

void tst_FileItem::pathIdAndURLIdAreDifferentItems() {
    // Ids compare as text, byte for byte: no case folding, no URL normalisation.
    const FileItem listed = item(QStringLiteral("/Users/me/a.txt"), QStringLiteral("a.txt"), 1, 0);
    const FileItem built = item(QStringLiteral("file:///Users/me/a.txt"), QStringLiteral("a.txt"), 1, 0);
    const FileItem shouting = item(QStringLiteral("/USERS/ME/A.TXT"), QStringLiteral("a.txt"), 1, 0);
    QVERIFY(!(listed == built));
    QVERIFY(!(listed == shouting));
}

QTEST_GUILESS_MAIN(tst_FileItem)
#include "tst_FileItem.moc"
