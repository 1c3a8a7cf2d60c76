#include "platform/Error.h"
#include "transfer/LocalTransferFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

// Making folders and listing them on this computer, against a real scratch folder.
class tst_LocalTransferFiles : public QObject {
    Q_OBJECT

private:
    static void writeFile(const QString& path) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
    }

    // Lays out a small tree: a folder, a file, a link to each, and a dangling link.
    static void populate(const QString& root) {
        QVERIFY(QDir(root).mkdir(QStringLiteral("folder")));
        writeFile(root + QStringLiteral("/file"));
        writeFile(root + QStringLiteral("/.hidden"));
        QVERIFY(QFile::link(root + QStringLiteral("/folder"), root + QStringLiteral("/folderLink")));
        QVERIFY(QFile::link(root + QStringLiteral("/file"), root + QStringLiteral("/fileLink")));
        QVERIFY(QFile::link(root + QStringLiteral("/nowhere"), root + QStringLiteral("/dangling")));
    }

private slots:
    void makeFolder_data() {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<int>("outcome"); // 1 made, 0 already there, else the errno thrown
        QTest::newRow("missing parents made") << QStringLiteral("a/b/c") << 1;
        QTest::newRow("link to a folder") << QStringLiteral("folderLink") << 0;
        QTest::newRow("dangling link in the way") << QStringLiteral("dangling") << EEXIST;
        QTest::newRow("parent is a file") << QStringLiteral("file/child") << ENOTDIR;
    }

    void makeFolder() {
        QFETCH(QString, relative);
        QFETCH(int, outcome);
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        populate(scratch.path());
        if (QTest::currentTestFailed())
            return;
        const QString path = scratch.filePath(relative);
        int result = -1;
        try {
            result = LocalTransferFiles::makeFolder(path) ? 1 : 0;
        } catch (const FileError& error) {
            result = error.code();
        }
        QCOMPARE(result, outcome);
        if (outcome <= 1)
            QVERIFY(QFileInfo(path).isDir());
    }

    void list_data() {
        QTest::addColumn<bool>("showHidden");
        QTest::addColumn<QStringList>("children");
        QTest::addColumn<QStringList>("unreadable");
        const QStringList unreadable{QStringLiteral("dangling"), QStringLiteral("folderLink")};
        QTest::newRow("hidden left out")
            << false
            << QStringList{QStringLiteral("file"), QStringLiteral("fileLink"), QStringLiteral("folder")}
            << unreadable;
        QTest::newRow("hidden shown") << true
                                      << QStringList{QStringLiteral(".hidden"), QStringLiteral("file"),
                                                     QStringLiteral("fileLink"), QStringLiteral("folder")}
                                      << unreadable;
    }

    void list() {
        QFETCH(bool, showHidden);
        QFETCH(QStringList, children);
        QFETCH(QStringList, unreadable);
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        populate(scratch.path());
        if (QTest::currentTestFailed())
            return;
        const LocalTransferFiles::Listing listing = LocalTransferFiles::list(scratch.path(), showHidden);
        QStringList names;
        for (const LocalTransferFiles::Child& child : listing.children) {
            names.append(child.name);
            // A link to a file is listed as that file.
            if (child.name.startsWith(QLatin1String("file")))
                QCOMPARE(child.size, quint64(1));
        }
        QStringList unreadableNames;
        for (const LocalTransferFiles::Unreadable& entry : listing.unreadable)
            unreadableNames.append(entry.name);
        names.sort();
        unreadableNames.sort();
        QCOMPARE(names, children);
        QCOMPARE(unreadableNames, unreadable);
    }
};

QTEST_GUILESS_MAIN(tst_LocalTransferFiles)
#include "tst_LocalTransferFiles.moc"
