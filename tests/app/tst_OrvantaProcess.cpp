// The program as a user runs it, in a process of its own against this test's device emulator:
// quitting while a device is being connected ends the process cleanly. Under the sanitizer build
// the program is the sanitizer build too, so a use after free, a worker thread still running into
// Qt's globals at exit, or a task left suspended (a leak) shows in what it prints or in its status.

#include "DeviceTestCase.h"
#include "TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

const QString programPath = QStringLiteral(ORVANTA_PATH);
const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
// Limits only keep a broken run from hanging the test; nothing waits for time to pass.
constexpr int limitMs = 60000;

// What a clean end never prints.
const QStringList faultMarks{QStringLiteral("AddressSanitizer"),
                             QStringLiteral("LeakSanitizer"),
                             QStringLiteral("runtime error:"),
                             QStringLiteral("destroying locked mutex"),
                             QStringLiteral("without an application object"),
                             QStringLiteral("nobody awaited it")};

} // namespace

class tst_OrvantaProcess : public DeviceTestCase {
    Q_OBJECT

private slots:
    void quitWhileADeviceConnects_data();
    void quitWhileADeviceConnects();

private:
    // Reads what the program prints until a line matches; false when it ended first.
    bool readUntil(QProcess& program, const QRegularExpression& line);

    QString m_printed;
};

bool tst_OrvantaProcess::readUntil(QProcess& program, const QRegularExpression& line) {
    for (;;) {
        if (line.match(m_printed).hasMatch())
            return true;
        if (!program.waitForReadyRead(limitMs))
            return false;
        m_printed += QString::fromUtf8(program.readAll());
    }
}

void tst_OrvantaProcess::quitWhileADeviceConnects_data() {
    QTest::addColumn<QString>("after"); // "window": the device is there at the start; "plug": it comes later
    QTest::addColumn<int>("delayMs");
    // Twice each: what a quit meets at a given moment varies from run to run.
    for (int round = 1; round <= 2; ++round) {
        for (const char* after : {"window", "plug"}) {
            for (int delay : {0, 50, 150, 300})
                QTest::addRow("%s + %d ms, round %d", after, delay, round)
                    << QString::fromLatin1(after) << delay;
        }
    }
}

// SIGTERM takes the same road as Quit. It comes a moment after the window appeared with a phone
// plugged in, or after the program began to query a phone plugged in later: the device's session,
// the window's listings of it and the scan are all under way.
void tst_OrvantaProcess::quitWhileADeviceConnects() {
    QFETCH(QString, after);
    QFETCH(int, delayMs);
    fakemux::DeviceDescription description = describeDevice(udid);
    const QString media = QString::fromStdString(description.mediaRoot.string());
    // Enough entries that listing the device's first folder, which the window does as soon as
    // the device is there, takes the listing threads a while.
    for (int index = 0; index < 400; ++index) {
        QVERIFY(
            writeTestFile(media + QStringLiteral("/IMG_%1.JPG").arg(index, 4, 10, QLatin1Char('0')), "jpeg"));
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The scan's debug lines say when the device is being queried.
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR"})
        environment.insert(QString::fromLatin1(name), scratchPath(QString::fromLatin1(name)));

    if (after == u"window")
        addDevice(std::move(description));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    m_printed.clear();
    program.start(programPath, {QStringLiteral("--verbose")});
    QVERIFY2(program.waitForStarted(limitMs), qPrintable(program.errorString()));
    QVERIFY2(readUntil(program, QRegularExpression(QStringLiteral("Orvanta launched"))),
             qPrintable(m_printed));
    if (after == u"plug") {
        addDevice(std::move(description));
        QVERIFY2(readUntil(program, QRegularExpression(QStringLiteral("Running: \\S*ideviceinfo"))),
                 qPrintable(m_printed));
    }
    // The moment of the quit is what the rows vary; the program may not end by itself meanwhile.
    QVERIFY2(!program.waitForFinished(delayMs), qPrintable(m_printed));
    ::kill(pid_t(program.processId()), SIGTERM);
    QVERIFY2(program.waitForFinished(limitMs), qPrintable(m_printed));
    m_printed += QString::fromUtf8(program.readAll());

    for (const QString& mark : faultMarks) {
        const qsizetype at = m_printed.indexOf(mark);
        if (at >= 0) {
            // The messages of a failed check are cut short; the sanitizer's report is long.
            qWarning().noquote() << m_printed.mid(std::max<qsizetype>(0, at - 3000));
            QFAIL(qPrintable(QStringLiteral("The program printed \"%1\"").arg(mark)));
        }
    }
    if (program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0) {
        qWarning().noquote() << m_printed.right(6000);
        QFAIL(qPrintable(QStringLiteral("The program ended with status %1").arg(program.exitCode())));
    }
    QVERIFY2(m_printed.contains(QStringLiteral("Orvanta terminating")), qPrintable(m_printed));
    // A clean end takes the run's own temporary folder with it.
    const QString runs =
        scratchPath(QStringLiteral("TMPDIR")) + QStringLiteral("/orvanta-%1/Runs").arg(::getuid());
    QCOMPARE(QDir(runs).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

ORVANTA_DEVICE_TEST_MAIN(tst_OrvantaProcess)
#include "tst_OrvantaProcess.moc"
