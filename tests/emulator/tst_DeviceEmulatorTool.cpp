// The stand-alone device emulator as a developer runs it: a child process serving the devices of a
// JSON file to the real tools, obeying control commands, and leaving no socket behind when stopped.
// The tools reach it through their own environment only; this process never points the client
// library anywhere.
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString toolPath = QStringLiteral(DEVICE_EMULATOR_PATH);
const QString phoneUdid = QStringLiteral("00008110-001A2B3C4D5E6F70");
const QString padUdid = QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28");
// Limits only keep a broken tool from hanging the run; nothing waits for time to pass.
constexpr int limitMs = 30000;

QStringList lines(const QByteArray& text) {
    return QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

struct Run {
    int exitCode = -1;
    QStringList out;
    QString err;
};

Run runToEnd(const QString& program, const QStringList& arguments,
             const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(limitMs)) {
        process.kill();
        process.waitForFinished();
        run.err = program + QStringLiteral(" did not finish");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = lines(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// One emulator child process, from its "ready" line until SIGTERM.
class EmulatorProcess {
public:
    ~EmulatorProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // Starts the tool and reads what it prints up to "ready"; false when it ended before.
    bool start(const QStringList& arguments) {
        m_process.start(toolPath, arguments);
        QByteArray printed;
        while (!lines(printed).contains(QStringLiteral("ready"))) {
            if (!m_process.waitForReadyRead(limitMs)) {
                m_error = QString::fromUtf8(m_process.readAllStandardError());
                return false;
            }
            printed += m_process.readAllStandardOutput();
        }
        for (const QString& line : lines(printed)) {
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals > 0)
                m_printed.insert(line.left(equals), line.mid(equals + 1));
        }
        return true;
    }

    QString error() const { return m_error; }
    QString address() const { return m_printed.value(QStringLiteral("USBMUXD_SOCKET_ADDRESS")); }
    QString socketPath() const { return address().mid(QStringLiteral("UNIX:").size()); }
    QString controlPath() const { return m_printed.value(QStringLiteral("DEVICE_EMULATOR_CONTROL")); }

    // Runs a libimobiledevice tool against this emulator only.
    Run tool(const QString& name, const QStringList& arguments) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"), address());
        return runToEnd(name, arguments, environment);
    }
    Run control(const QStringList& words) const {
        return runToEnd(toolPath, QStringList{QStringLiteral("--control"), controlPath()} + words);
    }

    // SIGTERM, or the signal given; true when the tool then ended by itself with status 0.
    bool terminate(int signal = SIGTERM) {
        ::kill(static_cast<pid_t>(m_process.processId()), signal);
        return m_process.waitForFinished(limitMs) && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
    QHash<QString, QString> m_printed;
    QString m_error;
};

QByteArray twoDeviceConfig() {
    return QByteArray(R"({"devices": [
        {"udid": "00008110-001A2B3C4D5E6F70", "name": "Workshop iPhone", "media": "phone",
         "values": {"ProductType": "iPhone15,2", "ProductVersion": "17.4", "Uptime": {"real": 2},
                    "Token": {"data": "AAEC"}},
         "battery": {"BatteryCurrentCapacity": 64}, "batteryCapacityInRoot": true,
         "apps": [{"bundleId": "com.example.notes", "displayName": "Notes", "fileSharing": true,
                   "container": "notes"}]},
        {"udid": "3d0d7e5fb2ce288813306e4d4636395e047a3d28", "name": "Old iPad", "media": "pad",
         "plugged": false}
    ]})");
}

// A socket file that nobody listens at, as an emulator that was killed leaves it.
bool makeStaleSocket(const QString& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), name.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound;
}

} // namespace

class tst_DeviceEmulatorTool : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup() { m_folder.reset(); }

    void servesConfiguredDevicesUntilStopped_data();
    void servesConfiguredDevicesUntilStopped();
    void replacesOnlyAStaleSocket_data();
    void replacesOnlyAStaleSocket();

private:
    QString writeConfig(const QByteArray& json) const;

    std::unique_ptr<QTemporaryDir> m_folder;
};

void tst_DeviceEmulatorTool::initTestCase() {
    QVERIFY2(QFileInfo(toolPath).isExecutable(), qPrintable(toolPath + QStringLiteral(" is not built")));
}

void tst_DeviceEmulatorTool::init() {
    // Short, below /tmp: the client library cuts socket paths beyond 107 bytes silently.
    m_folder = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/emt-XXXXXX"));
    QVERIFY(m_folder->isValid());
}

QString tst_DeviceEmulatorTool::writeConfig(const QByteArray& json) const {
    const QString path = m_folder->filePath(QStringLiteral("devices.json"));
    return writeTestFile(path, json) ? path : QString();
}

void tst_DeviceEmulatorTool::servesConfiguredDevicesUntilStopped_data() {
    QTest::addColumn<bool>("givenSocket");
    QTest::addColumn<int>("stopSignal");
    QTest::newRow("in a folder of its own, SIGTERM") << false << int(SIGTERM);
    // Closing the terminal it runs in.
    QTest::newRow("at a socket path given, SIGHUP") << true << int(SIGHUP);
}

void tst_DeviceEmulatorTool::servesConfiguredDevicesUntilStopped() {
    QFETCH(bool, givenSocket);
    QFETCH(int, stopSignal);
    const QString config = writeConfig(twoDeviceConfig());
    QVERIFY(!config.isEmpty());
    QStringList arguments{QStringLiteral("--config"), config};
    if (givenSocket)
        arguments << QStringLiteral("--socket") << m_folder->filePath(QStringLiteral("mux"));

    EmulatorProcess emulator;
    QVERIFY2(emulator.start(arguments), qPrintable(emulator.error()));
    QVERIFY(emulator.address().startsWith(QLatin1String("UNIX:/")));
    if (givenSocket)
        QCOMPARE(emulator.socketPath(), m_folder->filePath(QStringLiteral("mux")));
    QVERIFY(QFileInfo::exists(emulator.controlPath()));
    // Relative media folders lie beside the configuration, and a missing one is made.
    QVERIFY(QFileInfo(m_folder->filePath(QStringLiteral("phone"))).isDir());

    Run listed = emulator.tool(QStringLiteral("idevice_id"), {QStringLiteral("-l")});
    QCOMPARE(listed.exitCode, 0);
    QCOMPARE(listed.out, QStringList{phoneUdid});

    Run info = emulator.tool(QStringLiteral("ideviceinfo"), {QStringLiteral("-u"), phoneUdid});
    QCOMPARE(info.exitCode, 0);
    QVERIFY2(info.out.contains(QStringLiteral("Token: AAEC")), qPrintable(info.out.join('\n')));

    Run unplugged = emulator.control({QStringLiteral("unplug"), phoneUdid});
    QCOMPARE(unplugged.exitCode, 0);
    QCOMPARE(emulator.tool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}).out, QStringList());
    QCOMPARE(emulator.control({QStringLiteral("plug"), padUdid}).exitCode, 0);
    QCOMPARE(emulator.tool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}).out, QStringList{padUdid});
    Run list = emulator.control({QStringLiteral("list")});
    QCOMPARE(list.out,
             (QStringList{phoneUdid + QStringLiteral(" \"Workshop iPhone\" unplugged"),
                          padUdid + QStringLiteral(" \"Old iPad\" plugged"), QStringLiteral("ok")}));

    // usbmuxd leaving with the last device: the tools fail as with no daemon until a device is back.
    QCOMPARE(emulator.control({QStringLiteral("usbmuxd-leaves"), QStringLiteral("on")}).out,
             (QStringList{QStringLiteral("usbmuxd running"), QStringLiteral("ok")}));
    QCOMPARE(emulator.control({QStringLiteral("unplug"), padUdid}).exitCode, 0);
    QCOMPARE(emulator.tool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}).exitCode, 255);
    QCOMPARE(emulator.control({QStringLiteral("replug"), padUdid}).exitCode, 0);
    QCOMPARE(emulator.tool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}).out, QStringList{padUdid});
    QCOMPARE(emulator.control({QStringLiteral("usbmuxd-leaves"), QStringLiteral("off")}).exitCode, 0);

    const QString socket = emulator.socketPath();
    const QString control = emulator.controlPath();
    QVERIFY(emulator.terminate(stopSignal));
    QVERIFY(!QFileInfo::exists(socket));
    QVERIFY(!QFileInfo::exists(control));
    // A folder the emulator made is its own to remove; a folder it was given is not.
    QCOMPARE(QFileInfo::exists(QFileInfo(socket).path()), givenSocket);
    if (givenSocket)
        QVERIFY(QFileInfo::exists(config));
    QCOMPARE(emulator.tool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}).exitCode, 255);
}

void tst_DeviceEmulatorTool::replacesOnlyAStaleSocket_data() {
    QTest::addColumn<QString>("occupied"); // beside the socket path given
    QTest::addColumn<QString>("kind");     // only a socket nobody listens at is replaced
    const auto row = [](const char* tag, const char* occupied, const char* kind) {
        QTest::newRow(tag) << QString::fromLatin1(occupied) << QString::fromLatin1(kind);
    };
    row("stale socket", "mux", "socket");
    // The slip of a newcomer who points --socket at a file of theirs.
    row("ordinary file", "mux", "file");
    row("folder", "mux", "folder");
}

void tst_DeviceEmulatorTool::replacesOnlyAStaleSocket() {
    QFETCH(QString, occupied);
    QFETCH(QString, kind);
    const QString config = writeConfig(twoDeviceConfig());
    const QString path = m_folder->filePath(occupied);
    const QByteArray precious("the only copy\n");
    if (kind == QLatin1String("socket"))
        QVERIFY(makeStaleSocket(path));
    else if (kind == QLatin1String("file"))
        QVERIFY(writeTestFile(path, precious));
    else
        QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
    const QStringList arguments{QStringLiteral("--config"), config, QStringLiteral("--socket"),
                                m_folder->filePath(QStringLiteral("mux"))};

    if (kind == QLatin1String("socket")) {
        EmulatorProcess emulator;
        QVERIFY2(emulator.start(arguments), qPrintable(emulator.error()));
        QCOMPARE(emulator.tool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}).out,
                 QStringList{phoneUdid});
        QCOMPARE(emulator.control({QStringLiteral("list")}).exitCode, 0);
        QVERIFY(emulator.terminate());
        return;
    }
    Run run = runToEnd(toolPath, arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(path + QStringLiteral(" exists and is not a socket")), qPrintable(run.err));
    if (kind == QLatin1String("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), precious);
    } else {
        QVERIFY(QFileInfo::exists(path + QStringLiteral("/inside")));
    }
}

QTEST_GUILESS_MAIN(tst_DeviceEmulatorTool)
#include "tst_DeviceEmulatorTool.moc"
