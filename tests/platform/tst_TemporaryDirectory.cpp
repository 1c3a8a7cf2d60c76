#include "platform/TemporaryDirectory.h"

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

class tst_TemporaryDirectory : public QObject {
    Q_OBJECT

private slots:
    // Each test gets its own TMPDIR, so the checks see only what the test put there.
    void init() {
        m_tempRoot = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tempRoot->isValid());
        m_savedTmpDir = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_tempRoot->path()));
    }

    void cleanup() {
        qputenv("TMPDIR", m_savedTmpDir);
        m_tempRoot.reset();
    }

    void makesPrivateFolderAgainWhenRemoved() {
        const QString folder = privateTemporaryDirectory();
        QCOMPARE(folder, preferredPath());
        QVERIFY(isPrivate(folder));
        QCOMPARE(privateTemporaryDirectory(), folder);
        // Removed behind our back (a tmp cleaner), it is made again, as private as before.
        QVERIFY(QDir(folder).removeRecursively());
        QCOMPARE(privateTemporaryDirectory(), folder);
        QVERIFY(isPrivate(folder));
    }

    void refusesForeignFolder_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("symlink to our own folder") << "symlink";
        QTest::newRow("open to everyone") << "open";
        QTest::newRow("owned by another user") << "foreign";
    }

    void refusesForeignFolder() {
        QFETCH(QString, kind);
        const QByteArray preferred = QFile::encodeName(preferredPath());
        const QString planted = m_tempRoot->path() + QStringLiteral("/planted");
        if (kind == QLatin1String("symlink")) {
            QVERIFY(QDir().mkdir(planted));
            QVERIFY(::chmod(QFile::encodeName(planted).constData(), 0700) == 0);
            QVERIFY(::symlink(QFile::encodeName(planted).constData(), preferred.constData()) == 0);
        } else if (kind == QLatin1String("open")) {
            QVERIFY(::mkdir(preferred.constData(), 0700) == 0);
            QVERIFY(::chmod(preferred.constData(), 0777) == 0);
        } else {
            if (::getuid() != 0)
                QSKIP("Only root can give a folder to another user");
            QVERIFY(::mkdir(preferred.constData(), 0700) == 0);
            QVERIFY(::chown(preferred.constData(), 65534, 65534) == 0);
        }

        const QString folder = privateTemporaryDirectory();
        QVERIFY(!folder.isEmpty());
        QVERIFY(folder != preferredPath());
        QVERIFY(folder.startsWith(preferredPath() + QLatin1Char('-')));
        QVERIFY(isPrivate(folder));
        QVERIFY(QDir(planted).isEmpty());
    }

private:
    QString preferredPath() const {
        return m_tempRoot->path() + QStringLiteral("/orvanta-") + QString::number(::getuid());
    }
    static bool isPrivate(const QString& path) {
        struct stat status {};
        return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
               status.st_uid == ::getuid() && (status.st_mode & 0777) == 0700;
    }

    std::unique_ptr<QTemporaryDir> m_tempRoot;
    QByteArray m_savedTmpDir;
};

QTEST_GUILESS_MAIN(tst_TemporaryDirectory)
#include "tst_TemporaryDirectory.moc"
