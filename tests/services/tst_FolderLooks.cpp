// Looks at folders of this computer away from the caller's thread: what each path is, requests
// made while one waits on a silent share joined into one, and a silent share holding neither the
// caller nor the end of the looks' owner.

#include "SilentMount.h"
#include "platform/LeavableThread.h"
#include "platform/async/RunSync.h"
#include "platform/async/TaskHandle.h"
#include "services/FolderLooks.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

class tst_FolderLooks : public QObject {
    Q_OBJECT

private slots:
    void answers();
    void requestsWhileOneWaitsAreJoined();
};

namespace {

async::TaskHandle<FolderLooks::Answers> asking(FolderLooks& looks, const QStringList& paths) {
    async::Task<FolderLooks::Answers> looking = looks.look(paths);
    return async::spawn(
        [looking = std::move(looking)](std::stop_token) mutable { return std::move(looking); });
}

} // namespace

// Only a folder, or a link to one, is a folder there.
void tst_FolderLooks::answers() {
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString folder = scratch.filePath(QStringLiteral("Films"));
    const QString file = scratch.filePath(QStringLiteral("notes.txt"));
    QVERIFY(QDir().mkpath(folder));
    QFile made(file);
    QVERIFY(made.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(folder, scratch.filePath(QStringLiteral("to Films"))));
    QVERIFY(
        QFile::link(scratch.filePath(QStringLiteral("gone")), scratch.filePath(QStringLiteral("dangling"))));
    const QStringList paths{folder, file, scratch.filePath(QStringLiteral("to Films")),
                            scratch.filePath(QStringLiteral("dangling")),
                            scratch.filePath(QStringLiteral("never"))};
    FolderLooks looks;
    const FolderLooks::Answers answers = async::runSync(looks.look(paths), 10s);
    const FolderLooks::Answers expected{
        {paths[0], true}, {paths[1], false}, {paths[2], true}, {paths[3], false}, {paths[4], false}};
    QCOMPARE(answers, expected);
}

// While a look waits on a silent share, later requests wait as one and are answered together once
// it answers; the owner's end does not wait for the share, and cancels every request unanswered.
void tst_FolderLooks::requestsWhileOneWaitsAreJoined() {
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    SilentMount share(scratch.path());
    if (!share.isMounted())
        QSKIP(qPrintable(QStringLiteral("no silent share here: ") + share.failure()));
    const QString projects = share.path() + QStringLiteral("/Projects");
    const QString here = scratch.path();
    const QString music = scratch.filePath(QStringLiteral("Music"));
    QVERIFY(QDir().mkpath(music));
    const int leftBefore = LeavableThread::leftRunning();

    auto looks = std::make_unique<FolderLooks>();
    const auto first = asking(*looks, {projects});
    QTRY_VERIFY(looks->isLooking());
    const auto second = asking(*looks, {here});
    const auto third = asking(*looks, {music, here});
    QCoreApplication::processEvents();
    QVERIFY(!first.isFinished() && !second.isFinished() && !third.isFinished());
    share.goAway();
    QCOMPARE(async::runSync(first.result(), 10s), (FolderLooks::Answers{{projects, false}}));
    const FolderLooks::Answers joined{{here, true}, {music, true}};
    QCOMPARE(async::runSync(second.result(), 10s), joined);
    QCOMPARE(async::runSync(third.result(), 10s), joined);

    SilentMount again(scratch.path() + QStringLiteral("/again"));
    QVERIFY2(again.isMounted(), qPrintable(again.failure()));
    const auto waiting = asking(*looks, {again.path()});
    QTRY_VERIFY(looks->isLooking());
    const auto notStarted = asking(*looks, {here});
    QElapsedTimer clock;
    clock.start();
    looks.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY_THROWS_EXCEPTION(async::CancelledError, async::runSync(notStarted.result(), 10s));
    QVERIFY_THROWS_EXCEPTION(async::CancelledError, async::runSync(waiting.result(), 10s));
    QCOMPARE(LeavableThread::leftRunning(), leftBefore + 1);
    again.goAway();
    QTRY_COMPARE(LeavableThread::leftRunning(), leftBefore);
}

QTEST_GUILESS_MAIN(tst_FolderLooks)
#include "tst_FolderLooks.moc"
