// The watcher of shown computer folders: changes of one turn reported together, a folder that
// keeps changing reported at a bounded rate that slows with its size, and no change left
// unreported; the watches made away from the caller's thread, a folder that comes back watched
// again, and a folder on a share that stopped answering holding neither the caller nor the end.

#include "LogCapture.h"
#include "SilentMount.h"
#include "platform/ManualUiTimerSource.h"
#include "services/FolderWatcher.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace std::chrono_literals;

class tst_FolderWatcher : public QObject {
    Q_OBJECT

private slots:
    void changesOfOneTurnAreReportedOnce();
    void aFolderThatKeepsChangingIsReportedAtABoundedRate_data();
    void aFolderThatKeepsChangingIsReportedAtABoundedRate();
    void aListingOfTheWindowsOwnCoversWhatCameBefore();
    void aChangeOfTheWindowsOwnIsReportedUnlessCovered_data();
    void aChangeOfTheWindowsOwnIsReportedUnlessCovered();
    void changesOnDiskAreReported();
    void aFolderUnderTwoNamesIsHeardUnderEach_data();
    void aFolderUnderTwoNamesIsHeardUnderEach();
    void aFolderTheSystemWillNotWatchIsLookedAt_data();
    void aFolderTheSystemWillNotWatchIsLookedAt();
    void aSilentShareHoldsNeitherTheCallerNorTheEnd();
};

namespace {

const QString downloads = QStringLiteral("/home/user/Downloads");
const QString pictures = QStringLiteral("/home/user/Pictures");

struct Reports {
    QList<QList<URL>> calls;
    void hear(FolderWatcher& watcher) {
        watcher.onChange = [this](const QList<URL>& folders) {
            calls.append(folders);
        };
    }
    int of(const QString& path) const {
        int count = 0;
        for (const QList<URL>& folders : calls)
            count += int(folders.contains(URL::fileURL(path, true)));
        return count;
    }
};

} // namespace

void tst_FolderWatcher::changesOfOneTurnAreReportedOnce() {
    ManualUiTimerSource timers;
    FolderWatcher watcher(timers);
    Reports reports;
    reports.hear(watcher);
    // A copy's hidden file, its rename, and another folder's change, all in one turn.
    watcher.changed(downloads);
    watcher.changed(downloads);
    watcher.changed(pictures);
    QVERIFY(reports.calls.isEmpty());
    timers.advance(0ms);
    QCOMPARE(reports.calls.size(), 1);
    QCOMPARE(reports.of(downloads), 1);
    QCOMPARE(reports.of(pictures), 1);
    // Nothing more came: nothing more is reported, however long the wait.
    timers.advance(1h);
    QCOMPARE(reports.calls.size(), 1);
}

void tst_FolderWatcher::aFolderThatKeepsChangingIsReportedAtABoundedRate_data() {
    QTest::addColumn<qsizetype>("entries");
    QTest::addColumn<int>("most");
    // A change every 10 ms for a minute: 6,000 changes.
    QTest::newRow("a small folder: once a second") << qsizetype(20) << 61;
    QTest::newRow("100,000 entries: once in ten seconds") << qsizetype(100000) << 7;
}

void tst_FolderWatcher::aFolderThatKeepsChangingIsReportedAtABoundedRate() {
    QFETCH(qsizetype, entries);
    QFETCH(int, most);
    ManualUiTimerSource timers;
    FolderWatcher watcher(timers);
    watcher.entriesOf = [entries](const URL&) {
        return entries;
    };
    Reports reports;
    reports.hear(watcher);
    for (int change = 0; change < 6000; ++change) {
        watcher.changed(downloads);
        timers.advance(10ms);
    }
    QVERIFY2(reports.calls.size() <= most, qPrintable(QString::number(reports.calls.size())));
    QVERIFY(reports.calls.size() >= most - 2);
    // The last change is reported too, one quiet time later at the most.
    const int before = int(reports.calls.size());
    watcher.changed(downloads);
    timers.advance(FolderWatcher::quietTime(entries));
    QCOMPARE(reports.calls.size(), before + 1);
    timers.advance(1h);
    QCOMPARE(reports.calls.size(), before + 1);
    // After a quiet spell a change shows at once again.
    watcher.changed(downloads);
    timers.advance(0ms);
    QCOMPARE(reports.calls.size(), before + 2);
}

void tst_FolderWatcher::aListingOfTheWindowsOwnCoversWhatCameBefore() {
    ManualUiTimerSource timers;
    FolderWatcher watcher(timers);
    Reports reports;
    reports.hear(watcher);
    // Our own paste ends: its last files were seen, then the window lists the folder itself.
    watcher.changed(downloads);
    watcher.changed(pictures);
    watcher.listedAgain({URL::fileURL(downloads, true)});
    timers.advance(0ms);
    QCOMPARE(reports.of(downloads), 0);
    QCOMPARE(reports.of(pictures), 1);
    // A change that arrives after that listing waits the folder's quiet time, then shows.
    watcher.changed(downloads);
    timers.advance(500ms);
    QCOMPARE(reports.of(downloads), 0);
    timers.advance(500ms);
    QCOMPARE(reports.of(downloads), 1);
    // A device folder is never watched, and its listing changes nothing here.
    watcher.listedAgain({URL::fromComponents(
        QStringLiteral("afc"), QStringLiteral("00008110-00BE4C4B0000002A"), QStringLiteral("/DCIM/"))});
    QCOMPARE(timers.pendingCount(), 0);
}

namespace {
bool makeFile(const QString& path);
} // namespace

// The end of our own copy into a folder shown: reported at once when the last report of the
// folder came before its last change (the change made just before the call included, which the
// thread may not have read yet), and not at all when it came after; at once too for a folder the
// system does not watch. A folder the watcher does not watch is left to the caller.
void tst_FolderWatcher::aChangeOfTheWindowsOwnIsReportedUnlessCovered_data() {
    QTest::addColumn<bool>("changedAfterTheReport");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("swapped");
    QTest::addColumn<int>("reported");
    QTest::newRow("the last report came after the last change") << false << false << false << 1;
    QTest::newRow("a change after the last report") << true << false << false << 2;
    QTest::newRow("a folder looked at, not watched") << false << true << false << 2;
    // Another program moved the folder aside and made a new one under its name: the watch went
    // with the old folder.
    QTest::newRow("the folder moved away, a new one in its place") << true << false << true << 2;
}

void tst_FolderWatcher::aChangeOfTheWindowsOwnIsReportedUnlessCovered() {
    QFETCH(bool, changedAfterTheReport);
    QFETCH(bool, refused);
    QFETCH(bool, swapped);
    QFETCH(int, reported);
    QTemporaryDir scratch;
    const QString roll = scratch.filePath(QStringLiteral("100APPLE"));
    QVERIFY(QDir().mkpath(roll));
    FolderWatcher::SystemCalls calls;
    if (refused) {
        calls.addWatch = [](int, const char*, quint32) {
            errno = ENOSPC;
            return -1;
        };
    }
    ManualUiTimerSource timers;
    FolderWatcher watcher(timers, calls);
    // A camera roll's folder: ten seconds between two reports while a copy fills it.
    watcher.entriesOf = [](const URL&) {
        return qsizetype(100000);
    };
    Reports reports;
    reports.hear(watcher);
    const URL folder = URL::fileURL(roll, true);
    QVERIFY(!watcher.changedHere({folder})); // not watched yet: the caller lists it
    watcher.watch({folder});
    QTRY_VERIFY(watcher.isSettled());
    QCoreApplication::sendPostedEvents();

    if (swapped) {
        QVERIFY(QDir().rename(roll, roll + QStringLiteral(".old")));
        QVERIFY(QDir().mkpath(roll));
    } else {
        QVERIFY(makeFile(roll + QStringLiteral("/IMG_0001.JPG")));
    }
    if (refused) {
        // Looked at every two seconds; the window lists it when the look has seen it.
        QVERIFY(QTest::qWaitFor([&] {
            timers.advance(FolderWatcher::lookInterval);
            return reports.of(roll) == 1;
        }));
    } else {
        QVERIFY(QTest::qWaitFor([&] {
            timers.advance(0ms);
            return reports.of(roll) == 1;
        }));
    }
    // A look under way might wait on a silent share: the caller would list the folder itself.
    QTRY_VERIFY(watcher.isSettled());
    if (changedAfterTheReport)
        QVERIFY(makeFile(roll + QStringLiteral("/IMG_0002.JPG")));
    QVERIFY(watcher.changedHere({folder}));
    QTRY_VERIFY(watcher.isSettled());
    // No clock turned: what is reported, is reported at once.
    QCOMPARE(reports.of(roll), reported);
    timers.advance(1h);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(reports.of(roll), reported);
    const URL device = URL::fromComponents(QStringLiteral("afc"), QStringLiteral("00008110-00BE4C4B0000002A"),
                                           QStringLiteral("/DCIM/"));
    QVERIFY(!watcher.changedHere({folder, device}));
}

namespace {

bool makeFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

// Whether a change on disk reached the reports that many times in all. The watches report from a
// thread of their own: the loop turns until the report arrives (or the wait gives up).
bool reportedOnDisk(ManualUiTimerSource& timers, const Reports& reports, const QString& path, int times) {
    return QTest::qWaitFor([&] {
        timers.advance(1s);
        return reports.of(path) == times;
    });
}

// One folder mounted at a second place too, as a bind mount; undone when it goes.
class BindMount {
public:
    BindMount(const QString& folder, const QString& at) {
        if (::geteuid() != 0)
            m_failure = QStringLiteral("a bind mount needs root");
        else if (::mount(QFile::encodeName(folder).constData(), QFile::encodeName(at).constData(), nullptr,
                         MS_BIND, nullptr) != 0)
            m_failure = QStringLiteral("mount: ") + QString::fromLocal8Bit(std::strerror(errno));
        else
            m_at = at;
    }
    ~BindMount() {
        if (!m_at.isEmpty())
            ::umount2(QFile::encodeName(m_at).constData(), MNT_DETACH);
    }
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;

    QString failure() const { return m_failure; }

private:
    QString m_at;
    QString m_failure;
};

} // namespace

// Files made and removed in a folder watched are reported, in no folder dropped from the watch; a
// folder removed is reported, and watched again once it is back and asked for again.
void tst_FolderWatcher::changesOnDiskAreReported() {
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString films = scratch.filePath(QStringLiteral("Films"));
    const QString music = scratch.filePath(QStringLiteral("Music"));
    QVERIFY(QDir().mkpath(films) && QDir().mkpath(music));
    ManualUiTimerSource timers;
    FolderWatcher watcher(timers);
    Reports reports;
    reports.hear(watcher);
    const auto reported = [&](const QString& path, int times) {
        return reportedOnDisk(timers, reports, path, times);
    };

    watcher.watch({URL::fileURL(films, true), URL::fileURL(music, true)});
    QTRY_VERIFY(watcher.isSettled());
    QVERIFY(makeFile(films + QStringLiteral("/a.mov")));
    QVERIFY(reported(films, 1));
    QVERIFY(QFile::remove(films + QStringLiteral("/a.mov")));
    QVERIFY(reported(films, 2));

    watcher.watch({URL::fileURL(films, true)});
    QTRY_VERIFY(watcher.isSettled());
    QVERIFY(makeFile(music + QStringLiteral("/a.mp3")));
    QVERIFY(QDir(films).removeRecursively());
    QVERIFY(reported(films, 3));
    QVERIFY(QDir().mkpath(films));
    watcher.watch({URL::fileURL(films, true)});
    QTRY_VERIFY(watcher.isSettled());
    QVERIFY(makeFile(films + QStringLiteral("/b.mov")));
    QVERIFY(reported(films, 4));
    QCOMPARE(reports.of(music), 0);
}

// The system keeps one watch for a folder, whatever name it was asked under: a folder shown under
// two names hears of its changes under both, and the name still shown hears of them after the
// other is dropped.
void tst_FolderWatcher::aFolderUnderTwoNamesIsHeardUnderEach_data() {
    QTest::addColumn<bool>("bindMount");
    QTest::addColumn<bool>("dropOwnName");
    QTest::newRow("a link; the folder's own name dropped") << false << true;
    QTest::newRow("a link; the link dropped") << false << false;
    QTest::newRow("a bind mount; the folder's own name dropped") << true << true;
    QTest::newRow("a bind mount; the mount dropped") << true << false;
}

void tst_FolderWatcher::aFolderUnderTwoNamesIsHeardUnderEach() {
    QFETCH(bool, bindMount);
    QFETCH(bool, dropOwnName);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString films = scratch.filePath(QStringLiteral("Films"));
    const QString alias = scratch.filePath(QStringLiteral("Also Films"));
    QVERIFY(QDir().mkpath(films));
    std::optional<BindMount> mount;
    if (bindMount) {
        QVERIFY(QDir().mkpath(alias));
        mount.emplace(films, alias);
        if (!mount->failure().isEmpty())
            QSKIP(qPrintable(mount->failure()));
    } else {
        QVERIFY(QFile::link(films, alias));
    }
    ManualUiTimerSource timers;
    FolderWatcher watcher(timers);
    Reports reports;
    reports.hear(watcher);

    watcher.watch({URL::fileURL(films, true), URL::fileURL(alias, true)});
    QTRY_VERIFY(watcher.isSettled());
    QVERIFY(makeFile(films + QStringLiteral("/a.mov")));
    QVERIFY(reportedOnDisk(timers, reports, films, 1));
    QVERIFY(reportedOnDisk(timers, reports, alias, 1));

    const QString kept = dropOwnName ? alias : films;
    const QString dropped = dropOwnName ? films : alias;
    watcher.watch({URL::fileURL(kept, true)});
    QTRY_VERIFY(watcher.isSettled());
    QVERIFY(makeFile(kept + QStringLiteral("/b.mov")));
    QVERIFY(reportedOnDisk(timers, reports, kept, 2));
    QCOMPARE(reports.of(dropped), 1);
}

// A folder the system will not watch (its limits reached, or the folder gone) is looked at instead,
// at a bounded rate: a change shows at the next look, and once the system watches the folder
// again the looks end.
void tst_FolderWatcher::aFolderTheSystemWillNotWatchIsLookedAt_data() {
    QTest::addColumn<QString>("refusal");
    QTest::newRow("the limit of watches reached, then freed") << QStringLiteral("watches");
    QTest::newRow("the limit of instances reached") << QStringLiteral("instances");
    QTest::newRow("the folder gone, then back") << QStringLiteral("gone");
}

void tst_FolderWatcher::aFolderTheSystemWillNotWatchIsLookedAt() {
    QFETCH(QString, refusal);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString films = scratch.filePath(QStringLiteral("Films"));
    QVERIFY(QDir().mkpath(films));
    auto refuse = std::make_shared<std::atomic<bool>>(true);
    FolderWatcher::SystemCalls calls;
    if (refusal == u"instances") {
        calls.init = [](int) {
            errno = EMFILE;
            return -1;
        };
    } else if (refusal == u"watches") {
        calls.addWatch = [refuse](int inotify, const char* path, quint32 events) {
            if (*refuse) {
                errno = ENOSPC;
                return -1;
            }
            return ::inotify_add_watch(inotify, path, events);
        };
    }
    LogCapture log;
    ManualUiTimerSource timers;
    FolderWatcher watcher(timers, calls);
    Reports reports;
    reports.hear(watcher);
    // Once the thread has settled, what it found is on its way; then it is reported.
    const auto settle = [&] {
        if (!QTest::qWaitFor([&] { return watcher.isSettled(); }))
            return false;
        QCoreApplication::sendPostedEvents();
        timers.advance(0ms);
        return true;
    };
    const auto look = [&] {
        timers.advance(FolderWatcher::lookInterval);
        return settle();
    };

    watcher.watch({URL::fileURL(films, true)});
    QVERIFY(settle());
    int heard = 0;
    if (refusal == u"gone") {
        QVERIFY(QDir(films).removeRecursively());
        QTRY_COMPARE(timers.pendingCount(), 2); // its report, and the first look
        timers.advance(0ms);
        QCOMPARE(reports.of(films), ++heard);
    } else {
        const QString said = log.messages(LogCapture::category(QStringLiteral("filesystem"))).join(u'\n');
        QVERIFY2(said.contains(QStringLiteral("every 2 s instead")), qPrintable(said));
    }
    QVERIFY(look());
    QCOMPARE(reports.of(films), heard);

    if (refusal == u"gone")
        QVERIFY(QDir().mkpath(films));
    else
        QVERIFY(makeFile(films + QStringLiteral("/a.mov")));
    timers.advance(FolderWatcher::lookInterval / 2);
    QVERIFY(settle());
    QCOMPARE(reports.of(films), heard);
    timers.advance(FolderWatcher::lookInterval / 2);
    QVERIFY(settle());
    QCOMPARE(reports.of(films), ++heard);
    QVERIFY(look());
    QCOMPARE(reports.of(films), heard);
    if (refusal == u"instances") {
        QCOMPARE(timers.pendingCount(), 1);
        return;
    }

    refuse->store(false);
    QVERIFY(look());
    QCOMPARE(reports.of(films), heard);
    QCOMPARE(timers.pendingCount(), 0);
    QVERIFY(makeFile(films + QStringLiteral("/b.mov")));
    QVERIFY(reportedOnDisk(timers, reports, films, ++heard));
}

// The watch of a folder on a silent share is made on the watcher's thread, which waits there: the
// caller goes on, and a watcher destroyed meanwhile leaves the thread behind, to end once the
// share answers (here: goes away).
void tst_FolderWatcher::aSilentShareHoldsNeitherTheCallerNorTheEnd() {
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    SilentMount share(scratch.path());
    if (!share.isMounted())
        QSKIP(qPrintable(QStringLiteral("no silent share here: ") + share.failure()));
    const int leftBefore = LeavableThread::leftRunning();
    ManualUiTimerSource timers;
    auto watcher = std::make_unique<FolderWatcher>(timers);
    QElapsedTimer clock;
    clock.start();
    watcher->watch(
        {URL::fileURL(share.path() + QStringLiteral("/Projects"), true), URL::fileURL(scratch.path(), true)});
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(watcher->watchedPaths().size(), 2);
    QTRY_VERIFY(watcher->isMakingWatches());
    QVERIFY(!watcher->isSettled());
    clock.restart();
    watcher.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!share.watchdogFired());
    QCOMPARE(LeavableThread::leftRunning(), leftBefore + 1);
    share.goAway();
    QTRY_COMPARE(LeavableThread::leftRunning(), leftBefore);
}

QTEST_GUILESS_MAIN(tst_FolderWatcher)
#include "tst_FolderWatcher.moc"
