#include "platform/TemporaryDirectory.h"

#include "ChildRun.h"
#include "TestFiles.h"
#include "platform/FileTreeRemoval.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder outside the run folders, which a link in a run's copies points at.
QString outsideFolder() {
    return QDir::tempPath() + QStringLiteral("/outside");
}

// What a run leaves in its folder while it runs: copies in folders of their own, and a link to a
// folder outside that a removal must never follow.
QStringList makeCopiesAsARunDoes() {
    const QString run = runTemporaryDirectory();
    const QString copy = run + QStringLiteral("/OrvantaDragOut/0A1B/0/clip.mov");
    const QString link = run + QStringLiteral("/OrvantaPreview/outside");
    if (run.isEmpty() || !writeTestFile(copy, patternBytes(4096)) || !QDir().mkpath(QFileInfo(link).path()) ||
        !QFile::link(outsideFolder(), link))
        return {};
    return {copy, link};
}

} // namespace

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

    // Each run has a folder of its own in the private folder, as private, and keeps it.
    void runFolderIsTheRunsOwn() {
        const QString run = runTemporaryDirectory();
        QCOMPARE(QFileInfo(run).path(), privateTemporaryDirectory() + QStringLiteral("/Runs"));
        QVERIFY(isPrivate(run));
        QCOMPARE(runTemporaryDirectory(), run);
        QCOMPARE(removeFoldersOfEndedRuns(privateTemporaryDirectory()), 0);
        QVERIFY(QFileInfo::exists(run));
        // Removed behind our back, another is made, also when a late write made the old name
        // again: that folder holds no lock, and a start's clean-up would take it.
        QVERIFY(QDir(run).removeRecursively());
        QVERIFY(QDir().mkpath(run + QStringLiteral("/OrvantaDragOut")));
        const QString again = runTemporaryDirectory();
        QVERIFY(again != run);
        QVERIFY(isPrivate(again));
        QCOMPARE(removeFoldersOfEndedRuns(privateTemporaryDirectory()), 1);
        QVERIFY(!QFileInfo::exists(run));
        QVERIFY(QFileInfo::exists(again));
    }

    void foldersOfEndedRunsGo_data() {
        QTest::addColumn<QString>("end"); // how the other run ends: "kill", "quit" or "none" yet
        QTest::newRow("killed") << "kill";
        QTest::newRow("quit") << "quit";
        QTest::newRow("still running") << "none";
    }

    // The clean-up at start takes the folders of runs that ended, by a kill too, never one whose
    // run goes on; a run that quits removes its own. Links are removed, not followed.
    void foldersOfEndedRunsGo() {
        QFETCH(QString, end);
        QVERIFY(writeTestFile(outsideFolder() + QStringLiteral("/keep.txt"), "keep"));
        // Names that are no run's folder are not ours to take.
        const QString runs = privateTemporaryDirectory() + QStringLiteral("/Runs");
        QVERIFY(writeTestFile(runs + QStringLiteral("/notes/a.txt"), "a"));
        ChildRun::Child other;
        QVERIFY(other.start());
        QCOMPARE(other.copies().size(), 2);
        const QString otherRun = QFileInfo(other.copies().front()).path().section(u'/', 0, -4);
        QCOMPARE(QFileInfo(otherRun).path(), runs);
        const QString own = runTemporaryDirectory();
        QVERIFY(writeTestFile(own + QStringLiteral("/OrvantaThumbnails/a.mov"), "mov"));

        if (end == u"kill")
            QVERIFY(other.kill());
        if (end == u"quit") {
            QVERIFY(other.quit());
            QVERIFY(!QFileInfo::exists(otherRun));
        }
        QCOMPARE(removeFoldersOfEndedRuns(privateTemporaryDirectory()), end == u"kill" ? 1 : 0);
        QCOMPARE(QFileInfo::exists(otherRun), end == u"none");
        QVERIFY(QFileInfo::exists(own + QStringLiteral("/OrvantaThumbnails/a.mov")));
        QVERIFY(QFileInfo::exists(runs + QStringLiteral("/notes/a.txt")));
        QCOMPARE(fileContents(outsideFolder() + QStringLiteral("/keep.txt")), QByteArray("keep"));
        if (end == u"none") {
            QVERIFY(other.quit());
            QVERIFY(!QFileInfo::exists(otherRun));
        }
    }

    // A folder of the same disk bound inside an ended run's copies shows the same device number
    // as they do; the clean-up still stops there, and neither empties it nor makes it writable.
    void endedRunsCleanUpStopsAtABindMount() {
        if (::getuid() != 0)
            QSKIP("Only root can bind a folder");
        const QString bound = QDir::tempPath() + QStringLiteral("/bound");
        QVERIFY(writeTestFile(bound + QStringLiteral("/keep.txt"), "keep"));
        QVERIFY(writeTestFile(bound + QStringLiteral("/deep/also.txt"), "also"));
        QVERIFY(::chmod(QFile::encodeName(bound).constData(), 0500) == 0);
        ChildRun::Child other;
        QVERIFY(other.start());
        const QString otherRun = QFileInfo(other.copies().front()).path().section(u'/', 0, -4);
        const QString mountPoint = otherRun + QStringLiteral("/OrvantaPreview/mounted");
        QVERIFY(QDir().mkpath(mountPoint));
        if (::mount(QFile::encodeName(bound).constData(), QFile::encodeName(mountPoint).constData(), nullptr,
                    MS_BIND, nullptr) != 0)
            QSKIP(qPrintable(QStringLiteral("No bind mount here: %1").arg(qt_error_string(errno))));
        const auto unmount =
            qScopeGuard([&] { ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH); });
        QVERIFY(other.kill());

        QCOMPARE(removeFoldersOfEndedRuns(privateTemporaryDirectory()), 0);
        QVERIFY(!QFileInfo::exists(other.copies().front()));
        QCOMPARE(fileContents(mountPoint + QStringLiteral("/keep.txt")), QByteArray("keep"));
        QCOMPARE(fileContents(bound + QStringLiteral("/keep.txt")), QByteArray("keep"));
        QCOMPARE(fileContents(bound + QStringLiteral("/deep/also.txt")), QByteArray("also"));
        struct stat status {};
        QVERIFY(::stat(QFile::encodeName(bound).constData(), &status) == 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0500));
        QVERIFY(::chmod(QFile::encodeName(bound).constData(), 0700) == 0);
    }

    // A tree is removed whole, links as links: what they point at stays.
    void removalTakesLinksNotWhatTheyPointAt() {
        const QString tree = QDir::tempPath() + QStringLiteral("/tree");
        const QString link = QDir::tempPath() + QStringLiteral("/link");
        QVERIFY(writeTestFile(outsideFolder() + QStringLiteral("/keep.txt"), "keep"));
        QVERIFY(writeTestFile(tree + QStringLiteral("/deep/a.txt"), "a"));
        QVERIFY(QFile::link(outsideFolder(), tree + QStringLiteral("/deep/folder")));
        QVERIFY(QFile::link(outsideFolder() + QStringLiteral("/keep.txt"), tree + QStringLiteral("/file")));
        QVERIFY(QFile::link(outsideFolder(), link));

        QVERIFY(removeFileTree(link));
        QVERIFY(removeFileTree(tree));
        QVERIFY(!QFileInfo::exists(tree));
        QVERIFY(!QFileInfo(link).isSymLink());
        QCOMPARE(fileContents(outsideFolder() + QStringLiteral("/keep.txt")), QByteArray("keep"));
        QVERIFY(removeFileTree(tree)); // nothing there, nothing left
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

int main(int argc, char** argv) {
    if (ChildRun::asked())
        return ChildRun::run(makeCopiesAsARunDoes);
    QCoreApplication application(argc, argv);
    tst_TemporaryDirectory test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_TemporaryDirectory.moc"
