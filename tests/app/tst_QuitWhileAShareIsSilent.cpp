// Quitting while a look at a computer folder waits on a share that stopped answering (a FUSE
// mount nobody serves): the quit ends as usual, its thread left behind, and the process ends
// cleanly. The quit runs in a process of its own, this executable started again, as the program
// ends its run; under the sanitizer build that child is the sanitizer build too, so a use after
// free, a task left suspended or a hang in the leak check at the end shows. Needs root and
// /dev/fuse. Such an end skips the statics' destructors, the settings store's last write among
// them: a setting changed at the last moment is in its file all the same.

#include "SilentMount.h"
#include "app/Quitting.h"
#include "device/AFCBridge.h"
#include "platform/LeavableThread.h"
#include "platform/UserDefaults.h"
#include "platform/async/TaskHandle.h"
#include "services/FileSystemProvider.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <iostream>
#include <latch>
#include <string>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

// Names the silent folder to the child, and tells it apart from the test.
const char* const shareVariable = "ORVANTA_TEST_QUIT_SHARE";
// Only keeps a broken child from hanging the test; nothing waits for time to pass.
constexpr int limitMs = 60000;

// What a clean end never prints.
const QStringList faultMarks{QStringLiteral("AddressSanitizer"), QStringLiteral("LeakSanitizer"),
                             QStringLiteral("runtime error:"), QStringLiteral("destroying locked mutex"),
                             QStringLiteral("without an application object"),
                             QStringLiteral("tasks still running at the end")};

// The child: a window's provider looks at a folder on the share and lists another there behind
// it; once its input ends it quits as the program does.
int quitWhileALookWaits(int argc, char** argv) {
    int status = 0;
    QApplication application(argc, argv);
    const QString share = qEnvironmentVariable(shareVariable);
    {
        auto provider = std::make_shared<FileSystemProvider>(std::make_shared<AFCBridge>());
        // Said once the look is inside the share, where it waits.
        auto looking = std::make_shared<std::latch>(1);
        const QByteArray inside = QFile::encodeName(share + QStringLiteral("/Projects"));
        async::TaskHandle<QString> look = async::spawn([provider, looking, inside](std::stop_token) {
            return provider->lookLocally([looking, inside] {
                looking->count_down();
                struct stat facts {};
                ::stat(inside.constData(), &facts);
                return QString();
            });
        });
        async::TaskHandle<QList<FileItem>> listing = async::spawn([provider, share](std::stop_token) {
            return provider->listDirectory(URL::fileURL(share + QStringLiteral("/Films"), true));
        });
        looking->wait();
        std::fputs("waiting\n", stdout);
        std::fflush(stdout);
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        Quitting::begin();
    }
    return Quitting::finish(status);
}

// Names the settings file to a child that quits with a thread left behind.
const char* const settingsVariable = "ORVANTA_TEST_QUIT_SETTINGS";
const QString lastChangeKey = QStringLiteral("changedAtTheEnd");

// The child: a thread is left waiting for good (as on a silent share, without needing one), and a
// setting changes at the last moment, once the end has given up on that thread: well within the
// store's delay before it writes.
int quitWithAChangePending(int argc, char** argv) {
    UserDefaults::setStandardFilePathForTesting(qEnvironmentVariable(settingsVariable));
    QApplication application(argc, argv);
    UserDefaults::standard().set(QStringLiteral("changedEarlier"), 1);
    static std::latch never(1);
    auto* waiting = new LeavableThread;
    waiting->start([] { never.wait(); });
    waiting->finish(0ms);
    static QtMessageHandler passOn = nullptr;
    passOn = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (text.contains(QStringLiteral("threads still wait on the disk")))
            UserDefaults::standard().set(lastChangeKey, 7);
        passOn(type, context, text);
    });
    Quitting::begin();
    return Quitting::finish(0);
}

} // namespace

class tst_QuitWhileAShareIsSilent : public QObject {
    Q_OBJECT

private slots:
    void quitEndsWhileALookWaits();
    void quitWithAThreadLeftWritesTheLastSettings();
};

void tst_QuitWhileAShareIsSilent::quitEndsWhileALookWaits() {
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    // Far longer than a quit takes: the silence ends only if the child hangs.
    SilentMount share(scratch.path(), 30s);
    if (!share.isMounted())
        QSKIP(qPrintable(QStringLiteral("no silent share here: ") + share.failure()));

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(shareVariable), share.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY2(child.waitForStarted(limitMs), qPrintable(child.errorString()));
    QString printed;
    while (!printed.contains(QStringLiteral("waiting\n"))) {
        QVERIFY2(child.waitForReadyRead(limitMs), qPrintable(printed));
        printed += QString::fromUtf8(child.readAll());
    }
    child.closeWriteChannel();
    QVERIFY2(child.waitForFinished(limitMs), qPrintable(printed));
    printed += QString::fromUtf8(child.readAll());
    // The share answered nothing all along: the quit did not wait for it.
    QVERIFY2(!share.watchdogFired(), qPrintable(printed));
    for (const QString& mark : faultMarks)
        QVERIFY2(!printed.contains(mark), qPrintable(printed));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(printed));
    // The look's thread was left waiting, not joined nor given up on.
    QVERIFY2(printed.contains(QStringLiteral("1 threads still wait on the disk")), qPrintable(printed));
}

void tst_QuitWhileAShareIsSilent::quitWithAThreadLeftWritesTheLastSettings() {
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString settings = scratch.filePath(QStringLiteral("defaults.plist"));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(settingsVariable), settings);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY2(child.waitForStarted(limitMs), qPrintable(child.errorString()));
    QVERIFY(child.waitForFinished(limitMs));
    const QString printed = QString::fromUtf8(child.readAll());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(printed));
    // The end went by quick_exit, past the store's destructor.
    QVERIFY2(printed.contains(QStringLiteral("1 threads still wait on the disk")), qPrintable(printed));
    const UserDefaults written(settings);
    QCOMPARE(written.integerForKey(QStringLiteral("changedEarlier")), 1);
    QCOMPARE(written.integerForKey(lastChangeKey), 7);
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(settingsVariable))
        return quitWithAChangePending(argc, argv);
    if (qEnvironmentVariableIsSet(shareVariable))
        return quitWhileALookWaits(argc, argv);
    QApplication application(argc, argv);
    tst_QuitWhileAShareIsSilent test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_QuitWhileAShareIsSilent.moc"
