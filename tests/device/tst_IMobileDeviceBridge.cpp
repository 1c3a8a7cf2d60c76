// IMobileDeviceBridge's parsing rules, against fake tools that print exactly what a case needs. The
// real tools against the emulator are run through DeviceManager in its own test.

#include "DeviceTestCase.h"
#include "LogCapture.h"
#include "TestFiles.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunner.h"
#include "platform/async/RunSync.h"

#include <QDir>
#include <QFile>

namespace {

const QString bridgeLog = LogCapture::category(QStringLiteral("bridge"));
const QString modernUdid = QStringLiteral("00008110-001A2B3C4D5E6F70");

using DeviceInfo = QMap<QString, QString>;

} // namespace

class tst_IMobileDeviceBridge : public DeviceTestCase {
    Q_OBJECT

private slots:
    void toolOutputParsing_data();
    void toolOutputParsing();

private:
    // Puts a fake tool in the helpers folder that prints output and errorOutput and exits with
    // status; false when it could not be written.
    bool writeFakeTool(const QString& tool, const QByteArray& output, int status,
                       const QByteArray& errorOutput) {
        const QString base = QDir(helpersFolder()).filePath(tool);
        return writeTestFile(base + QStringLiteral(".out"), output) &&
               writeTestFile(base + QStringLiteral(".err"), errorOutput) &&
               writeTestFile(base, QStringLiteral("#!/bin/sh\ncat \"$0.out\"\ncat \"$0.err\" >&2\nexit %1\n")
                                       .arg(status)
                                       .toUtf8()) &&
               QFile::setPermissions(base, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A bridge that takes its tools from the helpers folder.
    IMobileDeviceBridge fakeToolBridge() {
        return IMobileDeviceBridge(std::make_shared<ProcessRunner>(URL::fileURL(helpersFolder(), true)));
    }

    QString helpersFolder() const { return scratchPath(QStringLiteral("helpers")); }
};

void tst_IMobileDeviceBridge::toolOutputParsing_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("parsed"); // device info as "key=value"
    const auto row = [](const char* tag, const char* tool, const char* output, int status,
                        const QStringList& parsed) {
        QTest::newRow(tag) << QString::fromUtf8(tool) << QByteArray(output) << status << parsed;
    };

    row("UDIDs: blank lines and surrounding blanks", "idevice_id", "AAAA-1111\n\n \t BBBB-2222  \n   \n", 0,
        {"AAAA-1111", "BBBB-2222"});
    row("UDIDs: failure is an empty list, logged", "idevice_id", "AAAA-1111\n", 1, {});
    row("info: a value keeps its own colons", "ideviceinfo", "TimeOfDay: 12:34:56\nAddress::1\n", 0,
        {"Address=:1", "TimeOfDay=12:34:56"});
    row("info: lines without a colon or without a value are skipped", "ideviceinfo",
        "garbage\nEmpty:\n:orphan\nSerialNumber: F2L\n", 0, {"SerialNumber=F2L"});
    row("name: trimmed at both ends", "idevicename", " \tAda's iPhone \n", 0, {"Ada's iPhone"});
}

void tst_IMobileDeviceBridge::toolOutputParsing() {
    QFETCH(QString, tool);
    QFETCH(QByteArray, output);
    QFETCH(int, status);
    QFETCH(QStringList, parsed);
    // What a tool says on its error stream is never taken for its answer.
    const QByteArray complaint = "ERROR: Unable to retrieve device list!\n";
    QVERIFY(writeFakeTool(tool, output, status, complaint));
    IMobileDeviceBridge bridge = fakeToolBridge();
    LogCapture logs;

    QStringList items;
    if (tool == QLatin1String("idevice_id")) {
        items = async::runSync(bridge.listDeviceUDIDs());
    } else if (tool == QLatin1String("idevicename")) {
        items.append(async::runSync(bridge.deviceName(modernUdid)));
    } else {
        const DeviceInfo info = async::runSync(bridge.deviceInfo(modernUdid));
        for (auto it = info.cbegin(); it != info.cend(); ++it)
            items.append(it.key() + u'=' + it.value());
    }
    QCOMPARE(items, parsed);
    QCOMPARE(logs.contains(bridgeLog, tool + QStringLiteral(" failed: ") + QString::fromUtf8(complaint)),
             status != 0);
}

ORVANTA_DEVICE_TEST_MAIN(tst_IMobileDeviceBridge)
#include "tst_IMobileDeviceBridge.moc"
